#include "entryname.h"
#include "entrynamerows.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using entrynametest::lead932;
using entrynametest::NAME_ROWS;
using entrynametest::namerow;

namespace {

class EntryNameTest : public ::testing::TestWithParam<namerow> {};

TEST_P(EntryNameTest, OnlyNamesBelowSetupAreSafe)
{
    const namerow& row = GetParam();
    EXPECT_EQ(safeentryname(row.name.c_str(), row.doublebyte ? lead932 : nullptr), row.safe);
}

INSTANTIATE_TEST_SUITE_P(Names, EntryNameTest, ::testing::ValuesIn(NAME_ROWS),
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
