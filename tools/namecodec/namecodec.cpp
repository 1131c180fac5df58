#include "namecodec.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#endif

#include <cstdio>

namespace {

bool lead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool leadcjk(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

struct codepageentry {
    int codepage;
    leadbytetest islead;
    const char* charset; // iconv's name
};

const codepageentry CODEPAGES[] = {
    {932, lead932, "CP932"},   {936, leadcjk, "CP936"},   {949, leadcjk, "CP949"},   {950, leadcjk, "CP950"},
    {1250, nullptr, "CP1250"}, {1251, nullptr, "CP1251"}, {1252, nullptr, "CP1252"}, {1253, nullptr, "CP1253"},
    {1254, nullptr, "CP1254"}, {1255, nullptr, "CP1255"}, {1256, nullptr, "CP1256"}, {1257, nullptr, "CP1257"},
    {1258, nullptr, "CP1258"}, {437, nullptr, "CP437"},   {850, nullptr, "CP850"},   {874, nullptr, "CP874"},
};

const codepageentry* find(int codepage)
{
    for (const codepageentry& entry : CODEPAGES)
        if (entry.codepage == codepage) return &entry;
    return nullptr;
}

std::string escaped(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(char(c));
        } else {
            char code[8];
            snprintf(code, sizeof code, "\\x%02X", unsigned(c));
            out += code;
        }
    }
    return out;
}

std::string hexbytes(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char code[8];
        snprintf(code, sizeof code, "\\x%02X", unsigned(c));
        out += code;
    }
    return out;
}

void appendutf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// Characters a terminal acts on or that change how the text around them
// shows: controls, zero-width and direction marks, line separators.
bool hiddencharacter(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

bool plainascii(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || c >= 0x7F) return false;
    return true;
}

#ifndef _WIN32
// text converted by iconv from the charset from to the charset to, in at
// most room bytes, into out; false (out untouched) when not all of it
// converts or, with exact, when iconv could only approximate a character.
bool convert(const char* to, const char* from, const std::string& text, size_t room, bool exact, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return false;
    std::string converted(room, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inleft = text.size();
    char* at = &converted[0];
    size_t outleft = converted.size();
    size_t result = iconv(cd, &in, &inleft, &at, &outleft);
    iconv_close(cd);
    if (result == size_t(-1) || inleft != 0) return false;
    // iconv counts the characters it could only approximate in its result.
    if (exact && result != 0) return false;
    converted.resize(converted.size() - outleft);
    out = converted;
    return true;
}
#endif

} // namespace

char32_t simpleuppercase(char32_t c)
{
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
#ifdef _WIN32
    if (c >= 0x10000) return c;
    wchar_t unit = wchar_t(c);
    CharUpperBuffW(&unit, 1);
    return char32_t(unit);
#else
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return unicode ? char32_t(towupper_l(wint_t(c), unicode)) : c;
#endif
}

bool decodeutf8(const std::string& text, std::u32string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = (unsigned char)text[i + k];
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are no characters.
        static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        out.push_back(code);
        i += length;
    }
    return true;
}

leadbytetest leadbytesof(int codepage)
{
    const codepageentry* entry = find(codepage);
    return entry ? entry->islead : nullptr;
}

bool knowncodepage(int codepage) { return find(codepage) != nullptr; }

bool toutf8(int codepage, const std::string& name, std::string& out)
{
    out = escaped(name);
    if (plainascii(name)) return true;
    const codepageentry* entry = find(codepage);
    if (!entry || name.find('\0') != std::string::npos) return false;
#ifdef _WIN32
    int wide = MultiByteToWideChar(UINT(codepage), MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::wstring text(size_t(wide), L'\0');
    MultiByteToWideChar(UINT(codepage), MB_ERR_INVALID_CHARS, name.data(), int(name.size()), &text[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    std::string converted(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &converted[0], bytes, nullptr, nullptr);
    out = converted;
    return true;
#else
    return convert("UTF-8", entry->charset, name, name.size() * 4 + 4, false, out);
#endif
}

std::string shownname(int codepage, const std::string& name)
{
    leadbytetest islead = leadbytesof(codepage);
    std::string out;
    for (size_t i = 0; i < name.size();) {
        size_t length = islead && islead((unsigned char)name[i]) && i + 1 < name.size() ? 2 : 1;
        std::string character = name.substr(i, length);
        std::string converted;
        std::u32string codes;
        bool shown = toutf8(codepage, character, converted) && decodeutf8(converted, codes);
        for (char32_t c : codes) shown = shown && !hiddencharacter(c);
        out += shown ? converted : hexbytes(character);
        i += length;
    }
    return out;
}

std::string foldedcomponent(int codepage, const std::string& component)
{
    std::string text;
    std::u32string codes;
    if (!toutf8(codepage, component, text) || !decodeutf8(text, codes)) {
        text = component;
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        return text;
    }
    text.clear();
    for (char32_t c : codes) appendutf8(text, simpleuppercase(c));
    return text;
}

bool fromutf8(int codepage, const std::string& name, std::string& out)
{
    out.clear();
    const codepageentry* entry = find(codepage);
    if (!entry || name.find('\0') != std::string::npos) return false;
    if (plainascii(name)) {
        out = name;
        return true;
    }
#ifdef _WIN32
    int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0);
    if (wide <= 0) return false;
    std::wstring text(size_t(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), &text[0], wide);
    BOOL defaulted = FALSE;
    int bytes =
        WideCharToMultiByte(UINT(codepage), WC_NO_BEST_FIT_CHARS, text.data(), wide, nullptr, 0, nullptr, &defaulted);
    if (bytes <= 0 || defaulted) return false;
    out.assign(size_t(bytes), '\0');
    WideCharToMultiByte(UINT(codepage), WC_NO_BEST_FIT_CHARS, text.data(), wide, &out[0], bytes, nullptr, nullptr);
    return true;
#else
    return convert(entry->charset, "UTF-8", name, name.size() * 2 + 4, true, out);
#endif
}

std::vector<std::string> splitname(const std::string& name, leadbytetest islead)
{
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = (unsigned char)name[i];
        if (islead && islead(c) && i + 1 < name.size()) {
            parts.back().append(name, i, 2);
            ++i;
        } else if (c == '\\' || c == '/') {
            parts.emplace_back();
        } else {
            parts.back().push_back(char(c));
        }
    }
    return parts;
}
