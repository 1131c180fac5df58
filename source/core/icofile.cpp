#include "icofile.h"

#include "bytes.h"

uint16_t iconcount(const unsigned char* header) { return get16(header + 4); }

size_t icondirectorysize(uint16_t count) { return ICON_HEADER_SIZE + size_t(count) * ICON_ENTRY_SIZE; }

int readicondirectory(const unsigned char* bytes, size_t length, uint64_t filesize, std::vector<iconentry>& entries)
{
    entries.clear();
    if (filesize < length) length = size_t(filesize);
    if (length < ICON_HEADER_SIZE) return ICON_SHORT_HEADER;
    uint16_t count = iconcount(bytes);
    if (count == 0) return ICON_NO_IMAGES;
    if (count > ICON_COUNT_MAX) return ICON_TOO_MANY_IMAGES;
    size_t directory = icondirectorysize(count);
    if (length < directory) return ICON_SHORT_DIRECTORY;

    std::vector<iconentry> read(count);
    for (uint16_t i = 0; i < count; ++i) {
        const unsigned char* p = bytes + ICON_HEADER_SIZE + size_t(i) * ICON_ENTRY_SIZE;
        iconentry& e = read[i];
        e.width = p[0];
        e.height = p[1];
        e.colorcount = p[2];
        e.reserved = p[3];
        e.planes = get16(p + 4);
        e.bitcount = get16(p + 6);
        e.size = get32(p + 8);
        e.offset = get32(p + 12);
        if (e.size == 0) return ICON_EMPTY_IMAGE;
        if (e.size > ICON_IMAGE_MAX) return ICON_IMAGE_TOO_LARGE;
        if (e.offset < directory || uint64_t(e.offset) + e.size > filesize) return ICON_IMAGE_OUTSIDE;
    }
    uint64_t total = 0;
    for (const iconslot& slot : iconslots(count)) total += read[slot.entry].size;
    if (total > ICON_TOTAL_MAX) return ICON_TOO_MANY_BYTES;
    entries.swap(read);
    return ICON_OK;
}

const char* iconresulttext(int result)
{
    switch (result) {
    case ICON_OK: return "complete";
    case ICON_SHORT_HEADER: return "header cut short";
    case ICON_NO_IMAGES: return "no images";
    case ICON_TOO_MANY_IMAGES: return "too many images";
    case ICON_SHORT_DIRECTORY: return "directory cut short";
    case ICON_EMPTY_IMAGE: return "empty image";
    case ICON_IMAGE_TOO_LARGE: return "image too large";
    case ICON_IMAGE_OUTSIDE: return "image outside the file";
    case ICON_TOO_MANY_BYTES: return "images add up to more than 64 MiB";
    default: return "unknown fault";
    }
}

std::vector<iconslot> iconslots(uint16_t count)
{
    std::vector<iconslot> slots;
    if (count == 0 || count > ICON_COUNT_MAX) return slots;
    for (uint16_t i = 0; i < count; ++i) slots.push_back({uint16_t(i + 1), i});
    uint32_t filler = count > ICON_FILLER_UPTO ? count - ICON_FILLER_UPTO : ICON_FILLER_UPTO - count;
    for (uint32_t k = 1; k <= filler; ++k) slots.push_back({uint16_t(count + k), uint16_t(count - 1)});
    return slots;
}
