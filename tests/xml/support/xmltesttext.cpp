#include "xmltesttext.h"

#include "xmldoc.h"

std::u16string u16(const std::string& utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string u8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string describeIndex(const xmldoc& doc)
{
    std::string out;
    if (doc.elements->capacity == 0) return out;
    // Iterative pre-order walk: deep documents must not deepen the test's own stack.
    int32_t x = doc.record(0).firstChild;
    while (x != 0) {
        const elementrecord& e = doc.record(x);
        if (e.prevSibling != 0 && !(e.flags & REC_FIRST_CHILD)) out += ',';
        out += u8(doc.tagName(x)) + "@" + std::to_string(e.startOffset) + "+" + std::to_string(e.totalLength);
        if (e.flags & REC_NO_END_TAG) out += '~';
        if (e.flags & REC_CONTAINS_ERROR) out += '*';
        if (e.firstChild != 0) {
            out += '(';
            x = e.firstChild;
            continue;
        }
        while (x != 0 && doc.record(x).nextSibling == 0) {
            x = doc.record(x).parent;
            if (x != 0) out += ')';
        }
        if (x != 0) x = doc.record(x).nextSibling;
    }
    return out;
}
