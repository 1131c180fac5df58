#include "namecodec.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
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

bool plainascii(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || c >= 0x7F) return false;
    return true;
}

} // namespace

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
    iconv_t cd = iconv_open("UTF-8", entry->charset);
    if (cd == iconv_t(-1)) return false;
    std::string converted(name.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(name.data());
    size_t inleft = name.size();
    char* to = &converted[0];
    size_t outleft = converted.size();
    size_t result = iconv(cd, &in, &inleft, &to, &outleft);
    iconv_close(cd);
    if (result == size_t(-1) || inleft != 0) return false;
    converted.resize(converted.size() - outleft);
    out = converted;
    return true;
#endif
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
    iconv_t cd = iconv_open(entry->charset, "UTF-8");
    if (cd == iconv_t(-1)) return false;
    std::string converted(name.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(name.data());
    size_t inleft = name.size();
    char* to = &converted[0];
    size_t outleft = converted.size();
    size_t result = iconv(cd, &in, &inleft, &to, &outleft);
    iconv_close(cd);
    // iconv counts characters it could only approximate in its result.
    if (result != 0 || inleft != 0) return false;
    converted.resize(converted.size() - outleft);
    out = converted;
    return true;
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
