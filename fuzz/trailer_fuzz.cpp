// Runs the trailer search over the input as a whole package file and compares the answer with a
// plain in-memory reading of the same bytes: where the search ends (the file size, or the start
// of a certificate table that ends the file), the last marker before that end, and the offsets.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bytes.h"
#include "fuzzbytes.h"
#include "packagetrailer.h"

namespace {

// Whether the n bytes at offset lie inside the input.
bool within(size_t size, uint64_t offset, uint64_t n) { return offset <= size && n <= size - offset; }

// The expected search end: the certificate table's start when the input is a PE file whose
// security directory entry names a table that ends exactly at the end of the input.
int64_t expectedend(const uint8_t* data, size_t size)
{
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return int64_t(size);
    const uint64_t pe = get32(data + 0x3c);
    if (pe > 0x10000000 || !within(size, pe, 26) || std::memcmp(data + pe, "PE\0\0", 4) != 0) return int64_t(size);
    const uint16_t optsize = get16(data + pe + 20);
    const uint16_t magic = get16(data + pe + 24);
    const uint64_t dirs = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    if (dirs == 0 || optsize < dirs + 40) return int64_t(size);
    const uint64_t countat = pe + 24 + dirs - 4;
    const uint64_t entryat = pe + 24 + dirs + 32;
    if (!within(size, countat, 4) || get32(data + countat) < 5 || !within(size, entryat, 8)) return int64_t(size);
    const uint64_t offset = get32(data + entryat);
    const uint64_t length = get32(data + entryat + 4);
    if (offset == 0 || length == 0 || offset + length != size) return int64_t(size);
    return int64_t(offset);
}

// The trailer position a backward search from end finds, or -1.
int64_t expectedtrailer(const uint8_t* data, int64_t end, PackageTrailer& trailer)
{
    for (int64_t pos = end - TRAILER_MARKER_SIZE; pos >= 1; --pos) {
        if (std::memcmp(data + pos, TRAILER_MARKER, TRAILER_MARKER_SIZE) != 0) continue;
        const int64_t t = pos - (TRAILER_SIZE - TRAILER_MARKER_SIZE);
        if (t < 0) return -1;
        trailer.offsetA = get32(data + t);
        std::memcpy(trailer.digestA, data + t + 4, 32);
        trailer.offsetB = get32(data + t + 36);
        std::memcpy(trailer.digestB, data + t + 40, 32);
        if (!(trailer.offsetA < trailer.offsetB && trailer.offsetB <= uint64_t(t))) return -1;
        return t;
    }
    return -1;
}

[[noreturn]] void fail(const char* why, long long got, long long expected)
{
    std::fprintf(stderr, "%s: got %lld, expected %lld\n", why, got, expected);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    FILE* f = openbytes(data, size);
    if (!f) return 0;
    const int64_t end = expectedend(data, size);
    const int32_t gotend = searchend(f);
    if (gotend != end) fail("search end", gotend, end);

    PackageTrailer got, expected;
    const int32_t t = findtrailer(f, got);
    std::fclose(f);
    const int64_t want = expectedtrailer(data, end, expected);
    if (t != want) fail("trailer position", t, want);
    if (t >= 0) {
        if (got.offsetA != expected.offsetA || got.offsetB != expected.offsetB ||
            std::memcmp(got.digestA, expected.digestA, 32) != 0 || std::memcmp(got.digestB, expected.digestB, 32) != 0)
            fail("trailer fields differ at", t, want);
        // What decodes encodes back to the same bytes.
        unsigned char again[TRAILER_SIZE];
        encodetrailer(got, again);
        if (std::memcmp(again, data + t, TRAILER_SIZE) != 0) fail("re-encoded trailer differs at", t, want);
    }

    // The codec alone, on the last 81 bytes: a decode succeeds exactly when the marker ends them.
    if (size >= size_t(TRAILER_SIZE)) {
        const uint8_t* last = data + size - TRAILER_SIZE;
        PackageTrailer decoded;
        const bool marked = std::memcmp(last + 72, TRAILER_MARKER, TRAILER_MARKER_SIZE) == 0;
        const bool ok = decodetrailer(last, decoded);
        if (ok != marked) fail("decode verdict", ok, marked);
        if (ok) {
            unsigned char again[TRAILER_SIZE];
            encodetrailer(decoded, again);
            if (std::memcmp(again, last, TRAILER_SIZE) != 0) fail("decode and encode differ", 0, 0);
        }
    }
    return 0;
}
