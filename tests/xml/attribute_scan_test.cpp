// locateAttribute on raw start tags: by name, by ordinal, and where it stops.
#include <gtest/gtest.h>

#include <ostream>

#include "support/xmltesttext.h"
#include "xmldoc.h"

namespace {

struct locatecase {
    const char* name;
    const char* tag;
    const char16_t* attribute; // null: look up by ordinal
    int32_t ordinal;
    bool found;
    const char* token; // tokenText after the call
    bool value;        // VALUE_TOKEN
    bool quoted;       // QUOTED_TOKEN
    int32_t next;      // cursor position after the call
};

std::ostream& operator<<(std::ostream& out, const locatecase& c) { return out << c.name << ": " << c.tag; }

constexpr locatecase locateCases[] = {
    {"quoted_value", "<e a=\"1\" b c='3'>", u"c", 0, true, "3", true, true, 16},
    {"valueless_name", "<e a=\"1\" b c='3'>", u"b", 0, true, "b", false, false, 10},
    {"unquoted_value", "<e a=1 b=x/y>", u"b", 0, true, "x/y", true, false, 12},
    {"missing_stops_before_close", "<e a=\"1\"  />", u"z", 0, false, "", false, false, 8},
    {"own_name_is_not_an_attribute", "<e e='1'>", u"e", 0, true, "1", true, true, 8},
    {"element_name_skipped", "<path x='1'>", u"path", 0, false, "", false, false, 11},
    {"spaces_around_equals", "<e a = 'v' >", u"a", 0, true, "v", true, true, 10},
    {"dangling_equals", "<e a=>", u"a", 0, true, "", true, false, 5},
    {"first_by_ordinal", "<e a=\"1\" b c='3'>", nullptr, 0, true, "a", false, false, 4},
    {"third_by_ordinal", "<e a=\"1\" b c='3'>", nullptr, 2, true, "c", false, false, 12},
    {"ordinal_past_the_end", "<e a=\"1\" b c='3'>", nullptr, 3, false, "", false, false, 16},
    {"declaration_close", "<?xml version=\"1.0\" encoding='gb2312'?>", u"encoding", 0, true, "gb2312", true, true, 37},
    {"unterminated_quote_runs_to_end", "<e a='x", u"a", 0, true, "x", true, true, 7},
};

class Locate : public ::testing::TestWithParam<locatecase> {};

TEST_P(Locate, TokenAndStop)
{
    const locatecase& c = GetParam();
    const std::u16string tag = u16(c.tag);
    tokencursor cursor;
    cursor.text = tag.c_str();
    cursor.next = tag[1] == u'?' ? 2 : 1;
    EXPECT_EQ(cursor.locateAttribute(c.attribute, c.ordinal, nullptr), c.found);
    if (c.found) {
        EXPECT_EQ(u8(cursor.tokenText()), c.token);
        EXPECT_EQ((cursor.flags & VALUE_TOKEN) != 0, c.value);
        EXPECT_EQ((cursor.flags & QUOTED_TOKEN) != 0, c.quoted);
    }
    EXPECT_EQ(cursor.next, c.next);
}

INSTANTIATE_TEST_SUITE_P(Attributes, Locate, ::testing::ValuesIn(locateCases),
                         [](const ::testing::TestParamInfo<locatecase>& info) { return std::string(info.param.name); });

TEST(Attributes, OrdinalLookupReportsTheName)
{
    const std::u16string tag = u"<e a=\"1\" bb c='3'>";
    tokencursor cursor;
    cursor.text = tag.c_str();
    cursor.next = 1;
    std::u16string name;
    EXPECT_TRUE(cursor.locateAttribute(nullptr, 1, &name));
    EXPECT_EQ(name, u"bb");
}

TEST(Attributes, LimitKeepsTheScanInsideTheTag)
{
    const std::u16string text = u"<e 'x><f' a='1'/>";
    tokencursor cursor;
    cursor.text = text.c_str();
    cursor.next = 1;
    EXPECT_FALSE(cursor.locateAttribute(u"a", 0, nullptr, 5));
    EXPECT_EQ(cursor.next, 5);
    cursor.next = 1;
    EXPECT_TRUE(cursor.locateAttribute(u"a", 0, nullptr)); // without a limit the quote swallows the close
}

} // namespace
