// The icon file reader checks header, directory and image placement before
// anything uses them; the identifier plan follows the filler rule.
#include "icofile.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = (unsigned char)v;
    b[at + 1] = (unsigned char)(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = (unsigned char)(v >> (8 * i));
}

struct DirectoryRow {
    const char* name;
    uint32_t announced; // image count in the header
    uint32_t written;   // directory entries actually present
    uint32_t size;      // image size of the last written entry (others: 8)
    int64_t offset;     // its offset; negative: right after the directory
    int64_t filebytes;  // the file is cut or padded to this length; -1: to the last image's end
    int expected;
};

std::ostream& operator<<(std::ostream& os, const DirectoryRow& row) { return os << row.name; }

// Entries before the last one get 8-byte images, one after the other,
// directly after the announced directory.
Bytes iconfile(const DirectoryRow& row)
{
    size_t directory = 6 + size_t(row.announced) * 16;
    Bytes b(6 + size_t(row.written) * 16, 0);
    put16(b, 2, 1);
    put16(b, 4, row.announced);
    uint64_t next = directory;
    uint64_t end = directory;
    for (uint32_t i = 0; i < row.written; ++i) {
        size_t at = 6 + size_t(i) * 16;
        bool last = i + 1 == row.written;
        uint32_t size = last ? row.size : 8;
        uint64_t offset = last && row.offset >= 0 ? uint64_t(row.offset) : next;
        b[at] = b[at + 1] = (unsigned char)(16 + i);
        put16(b, at + 4, 1);
        put16(b, at + 6, 32);
        put32(b, at + 8, size);
        put32(b, at + 12, uint32_t(offset));
        next += 8;
        end = offset + size > end ? offset + size : end;
    }
    size_t length = row.filebytes >= 0 ? size_t(row.filebytes) : size_t(end);
    b.resize(length, 0x5a);
    return b;
}

const DirectoryRow directoryRows[] = {
    {"one_image", 1, 1, 40, -1, -1, ICON_OK},
    {"six_images", 6, 6, 300, -1, -1, ICON_OK},
    {"image_ending_at_the_last_byte", 2, 2, 10, 6 + 32 + 8, 6 + 32 + 8 + 10, ICON_OK},
    {"image_one_byte_past_the_end", 2, 2, 10, 6 + 32 + 8, 6 + 32 + 8 + 9, ICON_IMAGE_OUTSIDE},
    {"empty_file", 0, 0, 0, -1, 0, ICON_SHORT_HEADER},
    {"header_cut_short", 1, 1, 40, -1, 5, ICON_SHORT_HEADER},
    {"zero_images", 0, 0, 0, -1, 200, ICON_NO_IMAGES},
    {"directory_cut_short", 3, 2, 8, -1, 6 + 16 * 3 - 1, ICON_SHORT_DIRECTORY},
    {"offset_past_the_end", 2, 2, 16, 100000, 400, ICON_IMAGE_OUTSIDE},
    {"offset_and_size_wrap_32_bits", 1, 1, 0x20, 0xFFFFFFF0, 400, ICON_IMAGE_OUTSIDE},
    {"image_inside_the_directory", 2, 2, 8, 6, -1, ICON_IMAGE_OUTSIDE},
    {"image_size_of_1_gib", 1, 1, 0x40000000, -1, 400, ICON_IMAGE_TOO_LARGE},
    {"image_size_just_above_the_limit", 1, 1, ICON_IMAGE_MAX + 1, -1, 400, ICON_IMAGE_TOO_LARGE},
    {"image_size_zero", 2, 2, 0, -1, 200, ICON_EMPTY_IMAGE},
    {"more_images_than_identifiers", ICON_COUNT_MAX + 1, 1, 8, -1, 400, ICON_TOO_MANY_IMAGES},
    // Seven images fill identifiers 1..7 and the seventh 8..10 too: 6 * 8 + 4 * size bytes in all.
    {"images_and_filler_reaching_the_total", 7, 7, ICON_IMAGE_MAX - 12, -1, -1, ICON_OK},
    {"images_and_filler_past_the_total", 7, 7, ICON_IMAGE_MAX - 11, -1, -1, ICON_TOO_MANY_BYTES},
    {"largest_image_alone_with_nine_copies", 1, 1, ICON_IMAGE_MAX, -1, -1, ICON_TOO_MANY_BYTES},
};

class IconDirectory : public testing::TestWithParam<DirectoryRow> {};

TEST_P(IconDirectory, ResultAndEntries)
{
    const DirectoryRow& row = GetParam();
    Bytes file = iconfile(row);
    std::vector<iconentry> entries(3); // filled or cleared by the reader
    int result = readicondirectory(file.data(), file.size(), file.size(), entries);
    EXPECT_EQ(result, row.expected) << iconresulttext(result);
    if (row.expected != ICON_OK) {
        EXPECT_TRUE(entries.empty());
        return;
    }
    ASSERT_EQ(entries.size(), size_t(row.announced));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].width, 16 + i);
        EXPECT_EQ(entries[i].height, 16 + i);
        EXPECT_EQ(entries[i].planes, 1);
        EXPECT_EQ(entries[i].bitcount, 32);
        EXPECT_LE(uint64_t(entries[i].offset) + entries[i].size, file.size());
        EXPECT_GE(entries[i].offset, icondirectorysize(uint16_t(row.announced)));
    }
    EXPECT_EQ(entries.back().size, row.size);
}

INSTANTIATE_TEST_SUITE_P(IconFile, IconDirectory, testing::ValuesIn(directoryRows),
                         [](const testing::TestParamInfo<DirectoryRow>& info) { return std::string(info.param.name); });

TEST(IconFile, DirectoryReadAloneIsCheckedAgainstTheWholeFile)
{
    DirectoryRow row = {"", 2, 2, 100, -1, -1, ICON_OK};
    Bytes file = iconfile(row);
    std::vector<iconentry> entries;
    size_t directory = icondirectorysize(2);
    EXPECT_EQ(readicondirectory(file.data(), directory, file.size(), entries), ICON_OK);
    EXPECT_EQ(entries.size(), 2u);
    // The same directory in a file that ends one byte early.
    EXPECT_EQ(readicondirectory(file.data(), directory, file.size() - 1, entries), ICON_IMAGE_OUTSIDE);
    // A length longer than the file counts only up to the file's end.
    EXPECT_EQ(readicondirectory(file.data(), directory, 6 + 16, entries), ICON_SHORT_DIRECTORY);
}

struct SlotRow {
    const char* name;
    uint16_t count;
    size_t slots;    // identifiers written
    uint16_t lastid; // the highest
};

std::ostream& operator<<(std::ostream& os, const SlotRow& row) { return os << row.name; }

const SlotRow slotRows[] = {
    {"none", 0, 0, 0},
    {"one_image_filled_to_ten", 1, 10, 10},
    {"six_images_filled_to_ten", 6, 10, 10},
    {"nine_images_filled_to_ten", 9, 10, 10},
    {"ten_images_no_filler", 10, 10, 10},
    {"eleven_images_one_copy", 11, 12, 12},
    {"twelve_images_two_copies", 12, 14, 14},
    {"most_images_highest_identifier", uint16_t(ICON_COUNT_MAX), 2 * ICON_COUNT_MAX - 10, 0xFFFE},
    {"too_many_images", uint16_t(ICON_COUNT_MAX + 1), 0, 0},
};

class IconSlots : public testing::TestWithParam<SlotRow> {};

TEST_P(IconSlots, FillerRule)
{
    const SlotRow& row = GetParam();
    std::vector<iconslot> slots = iconslots(row.count);
    ASSERT_EQ(slots.size(), row.slots);
    if (slots.empty()) return;
    EXPECT_EQ(slots.back().id, row.lastid);
    for (size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(slots[i].id, i + 1) << "slot " << i;
        uint16_t image = i < row.count ? uint16_t(i) : uint16_t(row.count - 1);
        EXPECT_EQ(slots[i].entry, image) << "slot " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(IconFile, IconSlots, testing::ValuesIn(slotRows),
                         [](const testing::TestParamInfo<SlotRow>& info) { return std::string(info.param.name); });

} // namespace
