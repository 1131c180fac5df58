#include "xmlescape.h"

namespace {

bool isAsciiLetter(char16_t u) { return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z'); }

bool startsReference(char16_t u) { return u == u'#' || u == u':' || u == u'_' || isAsciiLetter(u) || u > 0x7F; }

bool continuesReference(char16_t u)
{
    return u == u'-' || u == u'.' || u == u':' || u == u'_' || isAsciiLetter(u) || (u >= u'0' && u <= u'9') || u > 0x7F;
}

} // namespace

std::u16string escapeXml(std::u16string_view text, int32_t flags)
{
    std::u16string out;
    out.reserve(text.size() + text.size() / 10 + 7);
    const bool attribute = (flags & ESCAPE_ATTRIBUTE) != 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        switch (u) {
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'"':
            if (attribute)
                out += u"&quot;";
            else
                out += u;
            break;
        case u'\'':
            if (attribute)
                out += u"&apos;";
            else
                out += u;
            break;
        case u'&': {
            if (flags & ADD_KEEP_REFS) {
                size_t j = i + 1;
                if (j < text.size() && startsReference(text[j])) {
                    ++j;
                    while (j < text.size() && continuesReference(text[j])) ++j;
                    if (j < text.size() && text[j] == u';') {
                        out.append(text.substr(i, j - i + 1));
                        i = j;
                        break;
                    }
                }
            }
            out += u"&amp;";
            break;
        }
        default: out += u;
        }
    }
    return out;
}

std::u16string wrapCdata(std::u16string_view text)
{
    std::u16string out = u"<![CDATA[";
    size_t from = 0;
    for (;;) {
        size_t at = text.find(u"]]>", from);
        if (at == std::u16string_view::npos) break;
        out.append(text.substr(from, at - from));
        out += u"]]]]><![CDATA[>";
        from = at + 3;
    }
    out.append(text.substr(from));
    out += u"]]>";
    return out;
}

std::u16string decimalText(int64_t number)
{
    char16_t digits[24];
    int n = 0;
    uint64_t magnitude =
        number < 0 ? static_cast<uint64_t>(0) - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::u16string out;
    if (number < 0) out += u'-';
    while (n > 0) out += digits[--n];
    return out;
}
