// Reads the input as an icon file, the way the builder does (header, then as much of the directory
// as the file holds) and with a stated file size that differs from the bytes at hand, then checks
// the verdict and every entry against the bytes, and the identifier plan for the count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "icofile.h"

namespace {

[[noreturn]] void fail(const char* why, long long a, long long b)
{
    std::fprintf(stderr, "%s (%lld, %lld)\n", why, a, b);
    std::abort();
}

// The verdict for the first length bytes of a file of filesize bytes, read directly.
int expectedresult(const uint8_t* bytes, size_t length, uint64_t filesize)
{
    if (filesize < length) length = size_t(filesize);
    if (length < 6) return ICON_SHORT_HEADER;
    const uint32_t count = get16(bytes + 4);
    if (count == 0) return ICON_NO_IMAGES;
    if (count > ICON_COUNT_MAX) return ICON_TOO_MANY_IMAGES;
    const uint64_t directory = 6 + uint64_t(count) * 16;
    if (length < directory) return ICON_SHORT_DIRECTORY;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes + 6 + i * 16;
        const uint64_t size = get32(p + 8), offset = get32(p + 12);
        if (size == 0) return ICON_EMPTY_IMAGE;
        if (size > ICON_IMAGE_MAX) return ICON_IMAGE_TOO_LARGE;
        if (offset < directory || offset + size > filesize) return ICON_IMAGE_OUTSIDE;
    }
    // Every image once, then the last one again for each filler identifier.
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) total += get32(bytes + 6 + i * 16 + 8);
    const uint32_t filler = count > ICON_FILLER_UPTO ? count - ICON_FILLER_UPTO : ICON_FILLER_UPTO - count;
    total += uint64_t(filler) * get32(bytes + 6 + (count - 1) * 16 + 8);
    if (total > ICON_TOTAL_MAX) return ICON_TOO_MANY_BYTES;
    return ICON_OK;
}

void checkread(const uint8_t* bytes, size_t length, uint64_t filesize)
{
    std::vector<iconentry> entries(3); // stale entries must not survive a read
    const int result = readicondirectory(bytes, length, filesize, entries);
    const int expected = expectedresult(bytes, length, filesize);
    if (result != expected) fail("verdict", result, expected);
    if (std::strcmp(iconresulttext(result), iconresulttext(99)) == 0) fail("verdict without a description", result, 0);
    if (result != ICON_OK) {
        if (!entries.empty()) fail("entries after a fault", result, static_cast<long long>(entries.size()));
        return;
    }
    const uint16_t count = iconcount(bytes);
    if (entries.size() != count) fail("entry count", static_cast<long long>(entries.size()), count);
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint8_t* p = bytes + ICON_HEADER_SIZE + i * ICON_ENTRY_SIZE;
        const iconentry& e = entries[i];
        if (e.width != p[0] || e.height != p[1] || e.colorcount != p[2] || e.reserved != p[3] ||
            e.planes != get16(p + 4) || e.bitcount != get16(p + 6) || e.size != get32(p + 8) ||
            e.offset != get32(p + 12))
            fail("entry differs from its bytes", static_cast<long long>(i), 0);
        if (e.offset < icondirectorysize(count) || uint64_t(e.offset) + e.size > filesize)
            fail("image outside the file", e.offset, e.size);
    }
}

void checkslots(uint16_t count)
{
    const std::vector<iconslot> slots = iconslots(count);
    if (count == 0 || count > ICON_COUNT_MAX) {
        if (!slots.empty()) fail("identifiers for an unusable count", count, static_cast<long long>(slots.size()));
        return;
    }
    const uint32_t filler = count > ICON_FILLER_UPTO ? count - ICON_FILLER_UPTO : ICON_FILLER_UPTO - count;
    if (slots.size() != count + filler) fail("identifier count", static_cast<long long>(slots.size()), count + filler);
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i].id != i + 1) fail("identifiers not 1, 2, 3 ...", static_cast<long long>(i), slots[i].id);
        const uint32_t image = i < count ? uint32_t(i) : uint32_t(count - 1);
        if (slots[i].entry != image) fail("identifier with the wrong image", static_cast<long long>(i), slots[i].entry);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // As the builder reads it: the directory the header announces, cut at the end of the file.
    if (size >= ICON_HEADER_SIZE) {
        size_t wanted = icondirectorysize(iconcount(data));
        if (wanted > size) wanted = size;
        checkread(data, wanted, size);
        // The plan depends on the count alone; large counts (the unit tests hold the top one) would
        // slow every run to a crawl for nothing new.
        if (iconcount(data) <= 256) checkslots(iconcount(data));
    } else {
        checkread(data, size, size);
    }
    // A stated size beside the bytes at hand: the file larger (up to 4 GiB past them) or smaller.
    if (size >= 4) {
        const uint32_t delta = get32(data + size - 4);
        checkread(data, size, uint64_t(size) + delta);
        checkread(data, size, size - (delta % (size + 1)));
    }
    return 0;
}
