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

} // namespace
