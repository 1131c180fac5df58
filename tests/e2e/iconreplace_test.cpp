// Icon replacement on copies of the real program: the icon file's images land
// in RT_ICON 1..n with the filler copies, language 1033, byte for byte, and
// everything else of the program stays as it was. Damaged icon files leave
// the program untouched.
#include "harness.h"
#include "iconreplace.h"
#include "peresources.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const WORD ENGLISH_US = 1033;

std::wstring fixture(const char* name)
{
    return harness::testsourcedir() + L"\\fixtures\\icons\\" + harness::widen(name);
}

// A fresh copy of the bare program in the test's own scratch directory.
std::wstring programcopy(const std::wstring& dir)
{
    std::wstring exe = dir + L"\\target.exe";
    harness::copywithsize(harness::bootstrapexe(), exe, 0);
    return exe;
}

std::string resource(const std::wstring& file, LPCWSTR type, WORD id)
{
    std::string bytes;
    EXPECT_TRUE(peresources::read(file, type, id, ENGLISH_US, bytes)) << "resource " << id;
    return bytes;
}

struct ImagesRow {
    const char* name;
    const char* fixture;
    size_t images;
    WORD highestid; // 1..n, then the filler
};

std::ostream& operator<<(std::ostream& os, const ImagesRow& row) { return os << row.name; }

const ImagesRow imagesRows[] = {
    {"one_image_copied_up_to_ten", "icon_1_image.ico", 1, 10},
    {"six_images_copied_up_to_ten", "icon_6_images.ico", 6, 10},
    {"ten_images_no_copies", "icon_10_images.ico", 10, 10},
    {"twelve_images_two_copies", "icon_12_images.ico", 12, 14},
};

class IconImages : public testing::TestWithParam<ImagesRow> {};

TEST_P(IconImages, WrittenAsIconResources)
{
    const ImagesRow& row = GetParam();
    std::wstring exe = programcopy(harness::scratchdir(L"icon_" + harness::widen(row.name)));
    std::vector<std::string> images = peresources::iconimages(testfiles::readfile(fixture(row.fixture)));
    ASSERT_EQ(images.size(), row.images);

    EXPECT_TRUE(replaceicon(fixture(row.fixture).c_str(), exe.c_str()));

    std::vector<WORD> expectedids;
    for (WORD id = 1; id <= row.highestid; ++id) expectedids.push_back(id);
    EXPECT_EQ(peresources::ids(exe, RT_ICON), expectedids);
    for (WORD id = 1; id <= row.highestid; ++id) {
        EXPECT_EQ(peresources::languages(exe, RT_ICON, id), std::vector<WORD>{ENGLISH_US}) << "icon " << id;
        const std::string& image = id <= row.images ? images[id - 1] : images.back();
        EXPECT_TRUE(resource(exe, RT_ICON, id) == image)
            << "icon " << id << " differs from image " << (id <= row.images ? id : row.images);
    }
}

INSTANTIATE_TEST_SUITE_P(IconReplace, IconImages, testing::ValuesIn(imagesRows),
                         [](const testing::TestParamInfo<ImagesRow>& info) { return std::string(info.param.name); });

TEST(IconReplace, OtherResourcesSurvive)
{
    std::wstring bare = harness::bootstrapexe();
    std::wstring exe = programcopy(harness::scratchdir(L"icon_others"));
    ASSERT_TRUE(replaceicon(fixture("icon_6_images.ico").c_str(), exe.c_str()));

    EXPECT_EQ(peresources::ids(exe, RT_GROUP_ICON), peresources::ids(bare, RT_GROUP_ICON));
    for (WORD group : peresources::ids(bare, RT_GROUP_ICON))
        EXPECT_TRUE(resource(exe, RT_GROUP_ICON, group) == resource(bare, RT_GROUP_ICON, group)) << "group " << group;
    EXPECT_FALSE(peresources::ids(bare, RT_MANIFEST).empty());
    EXPECT_EQ(peresources::ids(exe, RT_MANIFEST), peresources::ids(bare, RT_MANIFEST));
    for (WORD manifest : peresources::ids(bare, RT_MANIFEST))
        EXPECT_TRUE(resource(exe, RT_MANIFEST, manifest) == resource(bare, RT_MANIFEST, manifest));
    // No record beside the images: nothing would read it.
    std::string record;
    EXPECT_FALSE(peresources::read(exe, RT_ICON, 32440, ENGLISH_US, record));
}

TEST(IconReplace, PngImageCopiedByteForByte)
{
    std::string ico = testfiles::readfile(fixture("icon_6_images.ico"));
    std::vector<std::string> images = peresources::iconimages(ico);
    ASSERT_FALSE(images.empty());
    ASSERT_EQ(images[0].compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << "the 256-pixel image is PNG data";
    std::wstring exe = programcopy(harness::scratchdir(L"icon_png"));
    std::string before = resource(exe, RT_ICON, 1);
    ASSERT_FALSE(before == images[0]);

    ASSERT_TRUE(replaceicon(fixture("icon_6_images.ico").c_str(), exe.c_str()));
    EXPECT_TRUE(resource(exe, RT_ICON, 1) == images[0]);
}

TEST(IconReplace, HigherIdentifiersThanWrittenSurvive)
{
    // Twelve images give identifiers 1..14; a later one-image file writes 1..10.
    std::wstring exe = programcopy(harness::scratchdir(L"icon_higher"));
    ASSERT_TRUE(replaceicon(fixture("icon_12_images.ico").c_str(), exe.c_str()));
    std::string thirteen = resource(exe, RT_ICON, 13);
    ASSERT_TRUE(replaceicon(fixture("icon_1_image.ico").c_str(), exe.c_str()));
    EXPECT_EQ(peresources::ids(exe, RT_ICON).size(), 14u);
    EXPECT_TRUE(resource(exe, RT_ICON, 13) == thirteen);
    std::vector<std::string> one = peresources::iconimages(testfiles::readfile(fixture("icon_1_image.ico")));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(resource(exe, RT_ICON, 10) == one[0]);
}

TEST(IconReplace, MissingIconFileIsReportedAndChangesNothing)
{
    std::wstring dir = harness::scratchdir(L"icon_missing");
    std::wstring exe = programcopy(dir);
    std::string before = testfiles::readfile(exe);
    testing::internal::CaptureStdout();
    bool result = replaceicon((dir + L"\\absent.ico").c_str(), exe.c_str());
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(result);
    EXPECT_EQ(output, "Open IconFile Failed!\n");
    EXPECT_TRUE(testfiles::readfile(exe) == before);
}

TEST(IconReplace, MissingExecutableIsNotCreated)
{
    std::wstring dir = harness::scratchdir(L"icon_noexe");
    EXPECT_TRUE(replaceicon(fixture("icon_6_images.ico").c_str(), (dir + L"\\absent.exe").c_str()));
    EXPECT_FALSE(harness::fileexists(dir + L"\\absent.exe"));
}

// Damaged icon files, made from the six-image file.
struct DamageRow {
    const char* name;
    size_t keep;    // bytes kept from the start; 0: all
    int entry;      // directory entry to change; -1: none
    int field;      // 8: image size, 12: image offset
    uint32_t value; // its new value; for the count (entry -2) the header's
    // Instead of the six-image file (when not 0): a file of this many entries
    // that all name the one image of sharedsize bytes after the directory.
    uint16_t shared = 0;
    uint32_t sharedsize = 0;
};

std::ostream& operator<<(std::ostream& os, const DamageRow& row) { return os << row.name; }

const DamageRow damageRows[] = {
    {"zero_images", 0, -2, 4, 0},
    {"header_cut_short", 4, -1, 0, 0},
    {"directory_cut_short", 6 + 16 * 3 + 5, -1, 0, 0},
    {"last_image_cut_short", 87044 - 10, -1, 0, 0},
    {"image_offset_past_the_end", 0, 2, 12, 87044 + 100},
    {"image_size_of_1_gib", 0, 0, 8, 0x40000000},
    {"count_larger_than_the_directory", 0, -2, 4, 500},
    // Read whole, the images would take 4000 MiB of a 32-bit process.
    {"entries_all_naming_one_large_image", 0, -1, 0, 0, 4000, 1024 * 1024},
};

std::string sharedimagefile(uint16_t count, uint32_t imagesize)
{
    std::string ico(6 + 16 * size_t(count), '\0');
    ico[2] = 1;
    ico[4] = char(count & 0xff);
    ico[5] = char(count >> 8);
    const uint32_t offset = uint32_t(ico.size());
    for (size_t i = 0; i < count; ++i) {
        size_t at = 6 + 16 * i;
        ico[at] = ico[at + 1] = 32;
        ico[at + 4] = 1;
        ico[at + 6] = 32;
        for (size_t b = 0; b < 4; ++b) {
            ico[at + 8 + b] = char((imagesize >> (8 * b)) & 0xff);
            ico[at + 12 + b] = char((offset >> (8 * b)) & 0xff);
        }
    }
    ico.append(imagesize, 'i');
    return ico;
}

class DamagedIcon : public testing::TestWithParam<DamageRow> {};

TEST_P(DamagedIcon, LeavesTheProgramUnchanged)
{
    const DamageRow& row = GetParam();
    std::wstring dir = harness::scratchdir(L"icon_" + harness::widen(row.name));
    std::string ico =
        row.shared ? sharedimagefile(row.shared, row.sharedsize) : testfiles::readfile(fixture("icon_6_images.ico"));
    ASSERT_EQ(ico.size(), row.shared ? 6 + 16 * size_t(row.shared) + row.sharedsize : 87044u);
    if (row.keep) ico.resize(row.keep);
    if (row.entry != -1) {
        size_t at = row.entry == -2 ? size_t(row.field) : 6 + 16 * size_t(row.entry) + size_t(row.field);
        size_t width = row.entry == -2 ? 2 : 4;
        for (size_t i = 0; i < width; ++i) ico[at + i] = char((row.value >> (8 * i)) & 0xff);
    }
    std::wstring icon = dir + L"\\damaged.ico";
    ASSERT_TRUE(testfiles::writefile(icon, ico));
    std::wstring exe = programcopy(dir);
    std::string before = testfiles::readfile(exe);
    ASSERT_FALSE(before.empty());

    testing::internal::CaptureStdout();
    bool result = replaceicon(icon.c_str(), exe.c_str());
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(result);
    EXPECT_NE(output.find("IconFile is not a complete icon file"), std::string::npos) << output;
    EXPECT_TRUE(testfiles::readfile(exe) == before);
}

INSTANTIATE_TEST_SUITE_P(IconReplace, DamagedIcon, testing::ValuesIn(damageRows),
                         [](const testing::TestParamInfo<DamageRow>& info) { return std::string(info.param.name); });

} // namespace
