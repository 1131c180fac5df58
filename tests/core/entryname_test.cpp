#include "entryname.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

// Lead bytes of code page 932, whose second bytes include the separator 0x5C.
bool lead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

struct namerow {
    const char* label;
    std::string name;
    bool doublebyte; // read with the lead bytes of code page 932
    bool safe;
};

std::ostream& operator<<(std::ostream& os, const namerow& r) { return os << r.label; }

const namerow ROWS[] = {
    {"plain", "setup\\rEdizo.exe", false, true},
    {"forward_slashes", "setup/a/b.txt", false, true},
    {"parent", "setup\\..\\evil.txt", false, false},
    {"stream", "setup\\a.txt:hidden", false, false},
    {"device_with_spaces", "setup\\nul .txt", false, false},
    {"device_lower_case", "setup\\a\\lpt9", false, false},
    {"device_superscript_one", "setup\\lpt\xb9", false, false},
    {"device_superscript_two_extension", "setup\\COM\xb2.txt", false, false},
    {"device_superscript_three", "setup\\a\\Com\xb3", false, false},
    {"port_with_other_high_byte", "setup\\COM\xb4", false, true},
    {"device_prefix_only", "setup\\console.txt", false, true},
    {"separator_as_second_byte", "setup\\\x95\\", true, true},
    {"separator_as_second_byte_single_byte_page", "setup\\\x95\\", false, false},
    {"lead_byte_last", "setup\\a\x81", true, false},
    {"lead_byte_before_wildcard", "setup\\x\xea<", true, false},
    {"lead_byte_before_colon", "setup\\a\x81:stream", true, false},
    {"lead_byte_before_slash", "setup\\a\x81/../../x", true, false},
    {"lead_byte_before_space", "setup\\a\x81 b", true, false},
    {"lead_byte_before_letter", "setup\\a\x81@b", true, true},
    {"lead_byte_single_byte_page", "setup\\x\xea<", false, false},
    {"high_byte_single_byte_page", "setup\\a\x81 b", false, true},
};

class EntryNameTest : public ::testing::TestWithParam<namerow> {};

TEST_P(EntryNameTest, OnlyNamesBelowSetupAreSafe)
{
    const namerow& row = GetParam();
    EXPECT_EQ(safeentryname(row.name.c_str(), row.doublebyte ? lead932 : nullptr), row.safe);
}

INSTANTIATE_TEST_SUITE_P(Names, EntryNameTest, ::testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(EntryName, NullIsUnsafe) { EXPECT_FALSE(safeentryname(nullptr, nullptr)); }

struct endrow {
    const char* label;
    std::string name;
    bool doublebyte; // read with the lead bytes of code page 932
    bool directory;  // the name ends with a separator
};

std::ostream& operator<<(std::ostream& os, const endrow& r) { return os << r.label; }

const endrow END_ROWS[] = {
    {"file", "setup\\a.txt", false, false},
    {"backslash", "setup\\sub\\", false, true},
    {"slash", "setup\\sub/", false, true},
    {"empty", "", false, false},
    {"separator_only", "\\", true, true},
    {"second_byte_0x5c_last", "setup\\\x95\\", true, false},
    {"second_byte_0x5c_then_separator", "setup\\\x95\\\\", true, true},
    {"second_byte_0x5c_in_directory", "setup\\\x95\\\\b\x95\\", true, false},
    {"single_byte_page_reads_0x5c_as_separator", "setup\\\x95\\", false, true},
    {"lead_byte_last", "setup\\a\x95", true, false},
};

class EndsWithSeparatorTest : public ::testing::TestWithParam<endrow> {};

TEST_P(EndsWithSeparatorTest, OnlyARealSeparatorCounts)
{
    const endrow& row = GetParam();
    EXPECT_EQ(endswithseparator(row.name.c_str(), row.doublebyte ? lead932 : nullptr), row.directory);
}

INSTANTIATE_TEST_SUITE_P(Names, EndsWithSeparatorTest, ::testing::ValuesIn(END_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
