#include "textconverter.h"

#include <cstring>
#include <vector>

#include "encodingtable.h"
#include "xmlplatform.h"

namespace {

const int32_t CODEPAGE_UTF16LE = 1200;
const int32_t CODEPAGE_UTF8 = 65001;
const uint32_t MAX_CODE_POINT = 0x10FFFF;
const char16_t REPLACEMENT = u'?';

// Writes units into a buffer of fixed capacity, or only counts them when
// there is no buffer. Units beyond the capacity are counted but never written.
template <typename T>
class unitwriter {
public:
    unitwriter(void* out, int32_t capacity) : out(static_cast<T*>(out)), capacity(capacity) {}
    void put(T unit)
    {
        if (out != nullptr && count < capacity) out[count] = unit;
        ++count;
    }
    // The count, or 0 when a buffer was given and the result did not fit.
    int32_t result() const { return out != nullptr && count > capacity ? 0 : count; }

    T* const out;
    const int32_t capacity;
    int32_t count = 0;
};

uint32_t codePointAt(const void* source, int32_t index)
{
    uint32_t c;
    std::memcpy(&c, static_cast<const unsigned char*>(source) + 4 * static_cast<size_t>(index), 4);
    return c;
}

bool isHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

int32_t utf32ToUtf8(const void* source, int32_t count, void* out, int32_t capacity)
{
    unitwriter<unsigned char> writer(out, capacity);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t c = codePointAt(source, i);
        // Beyond the Unicode range the bits would not fit a 4-byte sequence.
        if (c > MAX_CODE_POINT) c = REPLACEMENT;
        unsigned char bytes[4];
        int32_t length = 0;
        encodeUtf8(c, bytes, length);
        for (int32_t b = 0; b < length; ++b) writer.put(bytes[b]);
    }
    return writer.result();
}

int32_t utf32ToUtf16(const void* source, int32_t count, void* out, int32_t capacity)
{
    unitwriter<char16_t> writer(out, capacity);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t c = codePointAt(source, i);
        // Beyond the Unicode range a surrogate pair would name another character.
        if (c > MAX_CODE_POINT) c = REPLACEMENT;
        if (c >= 0x10000) {
            writer.put(static_cast<char16_t>(0xD800 | (((c - 0x10000) >> 10) & 0x3FF)));
            writer.put(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
        } else {
            writer.put(static_cast<char16_t>(c));
        }
    }
    return writer.result();
}

int32_t utf16ToUtf32(const void* source, int32_t count, void* out, int32_t capacity)
{
    const char16_t* units = static_cast<const char16_t*>(source);
    unitwriter<uint32_t> writer(out, capacity);
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < count && isLowSurrogate(units[i + 1])) {
            writer.put((((u & 0x3FF) << 10) | (units[i + 1] & 0x3FFu)) + 0x10000);
            ++i;
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            // A surrogate without its partner; the unit after it is its own character.
            writer.put(REPLACEMENT);
        } else {
            writer.put(u);
        }
    }
    return writer.result();
}

int32_t utf8ToUtf32(const void* source, int32_t count, void* out, int32_t capacity)
{
    const unsigned char* cursor = static_cast<const unsigned char*>(source);
    const unsigned char* const end = cursor + count;
    unitwriter<uint32_t> writer(out, capacity);
    while (cursor < end) {
        const int32_t c = decodeUtf8(cursor, end);
        writer.put(c < 0 ? REPLACEMENT : static_cast<uint32_t>(c));
    }
    return writer.result();
}

} // namespace

textconverter::textconverter(const char16_t* fromEncoding, const void* source, int32_t sourceUnits)
    : fromEncoding(fromEncoding ? fromEncoding : u""), source(source), sourceUnits(sourceUnits), outUnits(0), lossy(0)
{
}

int32_t textconverter::convert(void* out, const char16_t* toEncoding)
{
    if (toEncoding != nullptr) this->toEncoding = toEncoding;
    int32_t to = codePageOf(this->toEncoding.c_str());
    int32_t from = codePageOf(fromEncoding.c_str());
    if (to < 0) to = 0;
    if (from < 0) from = 0;
    lossy = 0;

    const int32_t capacity = out != nullptr ? outUnits : 0;
    int32_t* const lossFlag = cannotReportLoss(to) ? nullptr : &lossy;
    int32_t count = 0;
    if (source == nullptr || sourceUnits <= 0 || (out != nullptr && capacity <= 0)) {
        count = 0;
    } else if (from == CODEPAGE_UTF32_MEMORY) {
        if (to == CODEPAGE_UTF8)
            count = utf32ToUtf8(source, sourceUnits, out, capacity);
        else if (to == CODEPAGE_UTF16LE)
            count = utf32ToUtf16(source, sourceUnits, out, capacity);
    } else if (from == CODEPAGE_UTF16LE) {
        if (to == CODEPAGE_UTF32_MEMORY)
            count = utf16ToUtf32(source, sourceUnits, out, capacity);
        else
            count = platformFromUtf16(to, static_cast<const char16_t*>(source), sourceUnits, static_cast<char*>(out),
                                      capacity, lossFlag);
    } else if (to == CODEPAGE_UTF16LE) {
        count =
            platformToUtf16(from, static_cast<const char*>(source), sourceUnits, static_cast<char16_t*>(out), capacity);
    } else if (to == CODEPAGE_UTF32_MEMORY) {
        if (from == CODEPAGE_UTF8) count = utf8ToUtf32(source, sourceUnits, out, capacity);
    } else {
        // Bytes never yield more UTF-16 units than there are bytes.
        std::vector<char16_t> units(static_cast<size_t>(sourceUnits));
        const int32_t produced =
            platformToUtf16(from, static_cast<const char*>(source), sourceUnits, units.data(), sourceUnits);
        if (produced > 0)
            count = platformFromUtf16(to, units.data(), produced, static_cast<char*>(out), capacity, lossFlag);
    }
    outUnits = count;
    return count;
}

int32_t decodeUtf8(const unsigned char*& cursor, const unsigned char* end)
{
    if (cursor >= end) return -1;
    const unsigned char lead = *cursor++;
    if (lead < 0x80) return lead;
    int32_t more;
    int32_t value;
    if ((lead & 0x20) == 0) {
        more = 1;
        value = lead & 0x1F;
    } else if ((lead & 0x10) == 0) {
        more = 2;
        value = lead & 0x0F;
    } else if ((lead & 0x08) == 0) {
        more = 3;
        value = lead & 0x07;
    } else {
        return -1;
    }
    for (; more > 0; --more) {
        if (cursor >= end || *cursor < 0x80) return -1;
        value = (value << 6) | (*cursor & 0x3F);
        ++cursor;
    }
    return value;
}

void encodeUtf8(uint32_t codePoint, unsigned char* out, int32_t& count)
{
    unsigned char bytes[4];
    int32_t length;
    if (codePoint < 0x80) {
        bytes[0] = static_cast<unsigned char>(codePoint);
        length = 1;
    } else if (codePoint < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | ((codePoint >> 6) & 0x1F));
        length = 2;
    } else if (codePoint < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | ((codePoint >> 12) & 0x0F));
        length = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | ((codePoint >> 18) & 0x07));
        length = 4;
    }
    for (int32_t i = 1; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(0x80 | ((codePoint >> (6 * (length - 1 - i))) & 0x3F));
    if (out != nullptr) {
        for (int32_t i = 0; i < length; ++i) out[count + i] = bytes[i];
    }
    count += length;
}

bool checkUtf8(const unsigned char* bytes, int32_t length)
{
    int32_t i = 0;
    while (i < length && bytes[i] != 0) {
        const unsigned char lead = bytes[i++];
        if (lead < 0x80) continue;
        int32_t more;
        if ((lead & 0x20) == 0)
            more = 1;
        else if ((lead & 0x10) == 0)
            more = 2;
        else if ((lead & 0x08) == 0)
            more = 3;
        else
            return false;
        for (; more > 0; --more) {
            if (i >= length || bytes[i] < 0x80) return false;
            ++i;
        }
    }
    return true;
}

void swapUnitBytes(char16_t* units, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>((units[i] << 8) | (units[i] >> 8));
}

bool cannotReportLoss(int32_t codePage)
{
    switch (codePage) {
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
    case 65000:
    case 65001: return true;
    default: return codePage >= 57002 && codePage <= 57011;
    }
}
