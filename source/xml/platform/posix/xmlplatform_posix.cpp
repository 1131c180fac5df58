#include "xmlplatform.h"

#include <cerrno>
#include <iconv.h>
#include <string>

#include "textconverter.h"

namespace {

// The native build stands in for the Windows ANSI code page with this one.
const int32_t NATIVE_ANSI_CODE_PAGE = 1252;

struct iconvname {
    int32_t codePage;
    const char* name;
};

// Code pages the native build converts; code pages the system conversion does
// not know (1200, 1201, 12000, 12001, 65005) are deliberately absent.
const iconvname iconvnames[] = {
    {154, "PT154"},         {437, "CP437"},         {737, "CP737"},         {775, "CP775"},
    {850, "CP850"},         {852, "CP852"},         {855, "CP855"},         {857, "CP857"},
    {858, "CP858"},         {860, "CP860"},         {861, "CP861"},         {862, "CP862"},
    {863, "CP863"},         {864, "CP864"},         {865, "CP865"},         {866, "CP866"},
    {869, "CP869"},         {874, "CP874"},         {932, "CP932"},         {936, "CP936"},
    {949, "CP949"},         {950, "CP950"},         {1125, "CP1125"},       {1250, "CP1250"},
    {1251, "CP1251"},       {1252, "CP1252"},       {1253, "CP1253"},       {1254, "CP1254"},
    {1255, "CP1255"},       {1256, "CP1256"},       {1257, "CP1257"},       {1258, "CP1258"},
    {1361, "JOHAB"},        {10000, "MACINTOSH"},   {20127, "ASCII"},       {20866, "KOI8-R"},
    {20932, "EUC-JP"},      {21866, "KOI8-U"},      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"}, {50225, "ISO-2022-KR"}, {51932, "EUC-JP"},
    {51949, "EUC-KR"},      {54936, "GB18030"},     {65000, "UTF-7"},       {65001, "UTF-8"},
};

const char* iconvNameOf(int32_t codePage)
{
    if (codePage == 0) codePage = NATIVE_ANSI_CODE_PAGE;
    for (const iconvname& entry : iconvnames) {
        if (entry.codePage == codePage) return entry.name;
    }
    return nullptr;
}

// Collects iconv output either into the caller's buffer or, when measuring,
// into a scratch buffer that is only counted.
struct iconvsink {
    char* out;
    size_t capacity;
    size_t produced;
    char scratch[256];
};

// Converts as much of the input as iconv accepts (a null input flushes the
// shift state). Returns 0, E2BIG when the caller's buffer is full, or the
// errno of invalid input with the input left at the offending bytes.
int pump(iconv_t cd, char** in, size_t* inLeft, iconvsink& sink)
{
    for (;;) {
        char* dst = sink.out ? sink.out + sink.produced : sink.scratch;
        size_t room = sink.out ? sink.capacity - sink.produced : sizeof sink.scratch;
        char* const start = dst;
        const size_t result = iconv(cd, in, inLeft, &dst, &room);
        sink.produced += static_cast<size_t>(dst - start);
        if (result != static_cast<size_t>(-1)) return 0;
        if (errno != E2BIG) return errno;
        if (sink.out) return E2BIG;
    }
}

bool sinkWrite(iconvsink& sink, const char* bytes, size_t count)
{
    if (sink.out) {
        if (sink.capacity - sink.produced < count) return false;
        for (size_t i = 0; i < count; ++i) sink.out[sink.produced + i] = bytes[i];
    }
    sink.produced += count;
    return true;
}

class iconvhandle {
public:
    iconvhandle(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~iconvhandle()
    {
        if (valid()) iconv_close(cd);
    }
    iconvhandle(const iconvhandle&) = delete;
    iconvhandle& operator=(const iconvhandle&) = delete;
    bool valid() const { return cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd; }

private:
    iconv_t cd;
};

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

} // namespace

int32_t platformToUtf16(int32_t codePage, const char* bytes, int32_t count, char16_t* out, int32_t capacity)
{
    const char* name = iconvNameOf(codePage);
    if (name == nullptr || count <= 0 || (out != nullptr && capacity <= 0)) return 0;
    iconvhandle cd("UTF-16LE", name);
    if (!cd.valid()) return 0;
    iconvsink sink{reinterpret_cast<char*>(out), out ? static_cast<size_t>(capacity) * 2 : 0, 0, {}};
    char* in = const_cast<char*>(bytes);
    size_t inLeft = static_cast<size_t>(count);
    // U+FFFD in little-endian byte order, as the system puts it for invalid bytes.
    static const char replacement[2] = {'\xFD', '\xFF'};
    while (inLeft > 0) {
        const int error = pump(cd.get(), &in, &inLeft, sink);
        if (error == 0) break;
        if (error != EILSEQ && error != EINVAL) return 0;
        ++in;
        --inLeft;
        if (!sinkWrite(sink, replacement, sizeof replacement)) return 0;
    }
    // Some decoders (CP1255) hold back the last character for a combining mark.
    if (pump(cd.get(), nullptr, nullptr, sink) != 0) return 0;
    return static_cast<int32_t>(sink.produced / 2);
}

int32_t platformFromUtf16(int32_t codePage, const char16_t* units, int32_t count, char* out, int32_t capacity,
                          int32_t* usedDefault)
{
    if (usedDefault) *usedDefault = 0;
    const char* name = iconvNameOf(codePage);
    if (name == nullptr || count <= 0 || (out != nullptr && capacity <= 0)) return 0;
    iconvhandle cd(name, "UTF-16LE");
    if (!cd.valid()) return 0;
    iconvsink sink{out, out ? static_cast<size_t>(capacity) : 0, 0, {}};
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units));
    size_t inLeft = static_cast<size_t>(count) * 2;
    // Like the system: UTF-8 takes U+FFFD for a lone surrogate, other code
    // pages take the default character.
    const char16_t replacementUnit = codePage == 65001 ? 0xFFFD : u'?';
    bool defaulted = false;
    while (inLeft > 0) {
        const int error = pump(cd.get(), &in, &inLeft, sink);
        if (error == 0) break;
        if (error != EILSEQ && error != EINVAL) return 0;
        const char16_t* unit = reinterpret_cast<const char16_t*>(in);
        const size_t skip = inLeft >= 4 && isHighSurrogate(unit[0]) && isLowSurrogate(unit[1]) ? 4 : 2;
        in += skip;
        inLeft -= skip;
        char16_t replacement = replacementUnit;
        char* replacementIn = reinterpret_cast<char*>(&replacement);
        size_t replacementLeft = sizeof replacement;
        if (pump(cd.get(), &replacementIn, &replacementLeft, sink) != 0) return 0;
        defaulted = codePage != 65001;
    }
    if (pump(cd.get(), nullptr, nullptr, sink) != 0) return 0;
    if (usedDefault) *usedDefault = defaulted ? 1 : 0;
    return static_cast<int32_t>(sink.produced);
}

FILE* openFileWide(const char16_t* path, const char* mode)
{
    // Paths reach the native file system as UTF-8.
    std::string utf8;
    for (size_t i = 0; path[i] != 0; ++i) {
        uint32_t c = path[i];
        if (isHighSurrogate(path[i]) && isLowSurrogate(path[i + 1])) {
            c = 0x10000 + (((c & 0x3FF) << 10) | (path[i + 1] & 0x3FFu));
            ++i;
        }
        unsigned char bytes[4];
        int32_t length = 0;
        encodeUtf8(c, bytes, length);
        utf8.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    }
    return fopen(utf8.c_str(), mode);
}
