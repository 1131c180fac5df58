// Reading icon (.ico) files: the header, the image directory and where each
// image lies, checked against the file before anything uses them; and which
// RT_ICON identifier receives which image. No platform header: fuzzable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

const uint32_t ICON_HEADER_SIZE = 6;
const uint32_t ICON_ENTRY_SIZE = 16;
// Far above any real icon image (a 256-pixel 32-bit bitmap is about 270 KB),
// far below what a hostile size field could make a reader allocate.
const uint32_t ICON_IMAGE_MAX = 16 * 1024 * 1024;
// Bytes all identifiers receive together, filler copies included. The
// resource update holds every image it is given until it is committed, so a
// damaged directory whose entries all name one large image must not reach it:
// the images of a real icon with 256-pixel sizes take about 1 MB.
const uint64_t ICON_TOTAL_MAX = 64 * 1024 * 1024;
// Identifiers up to n, or 2n - 10 with the filler, must fit a 16-bit resource id.
const uint32_t ICON_COUNT_MAX = (0xFFFF + 10) / 2;
// Below this count the filler pads the identifiers up to it.
const uint16_t ICON_FILLER_UPTO = 10;

// Results of readicondirectory: ICON_OK, or the first fault found.
enum {
    ICON_OK = 0,
    ICON_SHORT_HEADER = -1,    // fewer than 6 bytes
    ICON_NO_IMAGES = -2,       // the header announces zero images
    ICON_TOO_MANY_IMAGES = -3, // more than ICON_COUNT_MAX
    ICON_SHORT_DIRECTORY = -4, // the file ends inside the directory
    ICON_EMPTY_IMAGE = -5,     // an entry with an image size of 0
    ICON_IMAGE_TOO_LARGE = -6, // an entry larger than ICON_IMAGE_MAX
    ICON_IMAGE_OUTSIDE = -7,   // an image overlapping the directory or running past the end
    ICON_TOO_MANY_BYTES = -8   // the images, with their filler copies, add up to more than ICON_TOTAL_MAX
};

struct iconentry {
    uint8_t width;
    uint8_t height;
    uint8_t colorcount;
    uint8_t reserved;
    uint16_t planes;
    uint16_t bitcount;
    uint32_t size;   // bytes of image data
    uint32_t offset; // from the start of the file
};

// Which image (index into the directory) an RT_ICON identifier receives.
struct iconslot {
    uint16_t id;
    uint16_t entry;
};

// The image count announced by a header of at least 6 bytes.
uint16_t iconcount(const unsigned char* header);
// Bytes of header and directory for count images.
size_t icondirectorysize(uint16_t count);
// Reads header and directory from the first length bytes of an icon file of
// filesize bytes and checks that every image lies wholly inside the file,
// after the directory, and that all identifiers together take at most
// ICON_TOTAL_MAX bytes. Returns ICON_OK with entries in file order, or the
// first fault (entries then empty).
int readicondirectory(const unsigned char* bytes, size_t length, uint64_t filesize, std::vector<iconentry>& entries);
// A short English description of a readicondirectory result.
const char* iconresulttext(int result);
// The identifiers written for count images: 1..count with their images, then
// copies of the last image up to identifier 10, or past 10 the identifiers
// count+1 .. count+(count-10). Empty for a count of 0.
std::vector<iconslot> iconslots(uint16_t count);
