#include "xmlescape.h"

#include "xmldoc.h"

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

void appendResult(std::u16string& results, const char16_t* name, const char16_t* data, uint32_t flags, int32_t number,
                  int32_t offset2)
{
    if (results.size() >= RESULT_LIMIT) return;
    xmldoc scratch;
    scratch.setText(std::u16string_view(results));
    if (flags & RESULT_UPDATE)
        scratch.findNext(name);
    else
        scratch.insertElement(name, std::u16string_view(), ADD_INLINE);
    if (data) {
        const char16_t* attribute = (flags & RESULT_DATA_TYPE)       ? u"type"
                                    : (flags & RESULT_DATA_ENCODING) ? u"encoding"
                                    : (flags & RESULT_DATA_MSG)      ? u"msg"
                                                                     : u"tagname";
        scratch.putAttribute(scratch.currentIndex, attribute, data, 0);
    }
    if (flags & RESULT_NUMBER_N)
        scratch.putAttribute(scratch.currentIndex, u"n", decimalText(number), 0);
    else if (flags & RESULT_NUMBER_COUNT)
        scratch.putAttribute(scratch.currentIndex, u"count", decimalText(number), 0);
    else if (flags & RESULT_NUMBER_LENGTH)
        scratch.putAttribute(scratch.currentIndex, u"length", decimalText(number), 0);
    else if (number != -1)
        scratch.putAttribute(scratch.currentIndex, u"offset", decimalText(number), 0);
    if (offset2 != -1) scratch.putAttribute(scratch.currentIndex, u"offset2", decimalText(offset2), 0);
    results = scratch.text;
}
