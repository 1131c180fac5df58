// The native packer's icon rewrite, read back by the system's own resource
// calls: the real program rewritten in memory holds, for every resource
// type, identifier and language, the same bytes as a copy given the same
// icon file by the builder's icon replacement (the system's resource update).
#include "harness.h"
#include "iconreplace.h"
#include "peresource.h"
#include "peresources.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

std::wstring fixture(const char* name)
{
    return harness::testsourcedir() + L"\\fixtures\\icons\\" + harness::widen(name);
}

struct RewriteRow {
    const char* name;
    const char* fixture;
    WORD highestid; // identifiers 1..n, then the filler
};

std::ostream& operator<<(std::ostream& os, const RewriteRow& row) { return os << row.name; }

const RewriteRow rewriteRows[] = {
    {"one_image", "icon_1_image.ico", 10},
    {"six_images", "icon_6_images.ico", 10},
    {"ten_images", "icon_10_images.ico", 10},
    {"twelve_images", "icon_12_images.ico", 14},
};

// Every resource type the program carries, and RT_ICON's neighbours.
const LPCWSTR TYPES[] = {RT_ICON, RT_GROUP_ICON, RT_MANIFEST, RT_VERSION, RT_RCDATA, RT_BITMAP, RT_STRING};

class PackIcon : public testing::TestWithParam<RewriteRow> {};

TEST_P(PackIcon, SameResourcesAsTheBuilder)
{
    const RewriteRow& row = GetParam();
    std::wstring dir = harness::scratchdir(L"packicon_" + harness::widen(row.name));
    std::wstring updated = dir + L"\\updated.exe";
    std::wstring rewritten = dir + L"\\rewritten.exe";
    ASSERT_TRUE(harness::copywithsize(harness::bootstrapexe(), updated, 0));
    ASSERT_TRUE(replaceicon(fixture(row.fixture).c_str(), updated.c_str()));

    std::string bare = testfiles::readfile(harness::bootstrapexe());
    std::vector<std::string> images = peresources::iconimages(testfiles::readfile(fixture(row.fixture)));
    ASSERT_FALSE(images.empty());
    std::string program;
    ASSERT_EQ(replaceiconimages(bare, images, program), PE_OK);
    ASSERT_TRUE(testfiles::writefile(rewritten, program));

    std::vector<WORD> icons = peresources::ids(rewritten, RT_ICON);
    ASSERT_FALSE(icons.empty()) << "the system cannot read the rewritten program's resources";
    EXPECT_GE(icons.back(), row.highestid);
    size_t compared = 0;
    for (LPCWSTR type : TYPES) {
        std::vector<WORD> ids = peresources::ids(updated, type);
        EXPECT_EQ(peresources::ids(rewritten, type), ids) << "type " << uintptr_t(type);
        for (WORD id : ids) {
            std::vector<WORD> languages = peresources::languages(updated, type, id);
            EXPECT_EQ(peresources::languages(rewritten, type, id), languages)
                << "type " << uintptr_t(type) << " id " << id;
            for (WORD language : languages) {
                std::string want;
                std::string got;
                ASSERT_TRUE(peresources::read(updated, type, id, language, want));
                EXPECT_TRUE(peresources::read(rewritten, type, id, language, got));
                EXPECT_TRUE(got == want) << "type " << uintptr_t(type) << " id " << id << " language " << language;
                ++compared;
            }
        }
    }
    // The images, the manifest and the version at least (the group is named).
    EXPECT_GE(compared, size_t(row.highestid) + 2);
    for (WORD id = 1; id <= row.highestid; ++id) {
        std::string image;
        ASSERT_TRUE(peresources::read(rewritten, RT_ICON, id, 1033, image));
        EXPECT_TRUE(image == (id <= images.size() ? images[id - 1] : images.back())) << "icon " << id;
    }
}

INSTANTIATE_TEST_SUITE_P(PackIcon, PackIcon, testing::ValuesIn(rewriteRows),
                         [](const testing::TestParamInfo<RewriteRow>& info) { return std::string(info.param.name); });

} // namespace
