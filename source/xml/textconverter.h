// Text conversion between named encodings: UTF-16 (the in-memory form),
// UTF-8, UTF-32 code points and the code pages the system converts; plus the
// component's own UTF-8 codec and the helpers that encoding detection uses.
#pragma once

#include <cstdint>
#include <string>

// Converts one run of text, in two calls: measure (out null), then convert
// into a buffer of exactly the measured size.
class textconverter {
public:
    // Prepares a conversion of sourceUnits units of source (bytes, 16-bit
    // units or 32-bit code points, as fromEncoding says); toEncoding empty,
    // outUnits 0, lossy false.
    textconverter(const char16_t* fromEncoding, const void* source, int32_t sourceUnits);

    // Converts into out, whose capacity in target units is outUnits; with out
    // null only measures. A non-null toEncoding replaces toEncoding. Returns
    // the count of target units produced (or needed), also left in outUnits;
    // 0 when the pair cannot be converted or out is too small.
    int32_t convert(void* out, const char16_t* toEncoding);

    // Target and source encoding names; a name that does not resolve means
    // the ANSI code page.
    std::u16string toEncoding;
    std::u16string fromEncoding;
    // Not owned; UTF-16 and UTF-32 sources and outputs are suitably aligned.
    const void* source;
    int32_t sourceUnits;
    // Capacity of out on entry, in target units; the count on return.
    int32_t outUnits;
    // Set when a character the target cannot hold became the default character.
    int32_t lossy;
};

// Decodes one UTF-8 sequence at cursor, never reading at or past end.
// Returns the code point, or -1 for an invalid or cut-off sequence; the cursor
// moves past the bytes consumed (a byte below 0x80 inside a sequence is not).
int32_t decodeUtf8(const unsigned char*& cursor, const unsigned char* end);

// Appends the UTF-8 bytes of codePoint at out + count and advances count by
// their number; with out null only advances count.
void encodeUtf8(uint32_t codePoint, unsigned char* out, int32_t& count);

// Returns whether the bytes up to length, or up to the first zero byte, read
// as UTF-8.
bool checkUtf8(const unsigned char* bytes, int32_t length);

// Swaps the two bytes of each of count 16-bit units in place.
void swapUnitBytes(char16_t* units, int32_t count);

// Returns true for the code pages whose system conversion cannot report a
// character replaced by the default character.
bool cannotReportLoss(int32_t codePage);
