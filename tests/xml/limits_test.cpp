// Tags longer than the packed tag-length word can hold are kept out of the index instead of wrapping.
#include <gtest/gtest.h>

#include <ostream>

#include "support/indexcheck.h"
#include "support/xmltesttext.h"
#include "xmldoc.h"

namespace {

struct longtagcase {
    const char* name;
    const char* head;
    int32_t spaces; // whitespace units between head and tail
    const char* tail;
    const char* results; // "%" stands for the text length
    bool sound;
    int32_t elements;
};

std::ostream& operator<<(std::ostream& out, const longtagcase& c) { return out << c.name; }

constexpr longtagcase longTagCases[] = {
    {"longest_end_tag", "<a></a", MAX_END_TAG_LENGTH - 4, ">", "", true, 1},
    {"end_tag_one_unit_too_long", "<a></a", MAX_END_TAG_LENGTH - 3, ">",
     R"(<lone_end_tag tagname="a" offset="3"/><unended_start_tag tagname="a" offset="0" offset2="%"/>)", false, 1},
    {"longest_start_tag", "<r><a", MAX_START_TAG_LENGTH - 4, "/></r>", "", true, 2},
    {"start_tag_one_unit_too_long", "<r><a", MAX_START_TAG_LENGTH - 3, "/></r>", "", false, 1},
};

class LongTag : public ::testing::TestWithParam<longtagcase> {};

TEST_P(LongTag, IndexedOrLeftOut)
{
    const longtagcase& c = GetParam();
    std::u16string text = u16(c.head);
    text.append(static_cast<size_t>(c.spaces), u' ');
    text += u16(c.tail);
    xmldoc doc;
    EXPECT_EQ(doc.setText(std::u16string_view(text)), c.sound);
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.nextFreeRecord - 1, c.elements);
    std::string expected = c.results;
    const size_t mark = expected.find('%');
    if (mark != std::string::npos) expected.replace(mark, 1, std::to_string(text.size()));
    EXPECT_EQ(u8(doc.resultText()), expected);
}

INSTANTIATE_TEST_SUITE_P(Limits, LongTag, ::testing::ValuesIn(longTagCases),
                         [](const ::testing::TestParamInfo<longtagcase>& info) {
                             return std::string(info.param.name);
                         });

struct longnamecase {
    size_t nameLength;
    bool inserted;
};

std::ostream& operator<<(std::ostream& out, const longnamecase& c) { return out << c.nameLength << " units"; }

constexpr longnamecase longNameCases[] = {{MAX_END_TAG_LENGTH - 3, true}, {MAX_END_TAG_LENGTH - 2, false}};

class LongName : public ::testing::TestWithParam<longnamecase> {};

TEST_P(LongName, InsertedWithValueOrRefused)
{
    xmldoc doc(u"<r/>");
    ASSERT_TRUE(doc.findNext(nullptr));
    const std::u16string name(GetParam().nameLength, u'n');
    EXPECT_EQ(doc.insertElement(name, u"v", ADD_AS_CHILD), GetParam().inserted);
    EXPECT_EQ(checkIndex(doc), "");
    if (!GetParam().inserted) {
        EXPECT_EQ(doc.text, u"<r/>");
        EXPECT_EQ(doc.nextFreeRecord, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, LongName, ::testing::ValuesIn(longNameCases));

TEST(Limits, AttributeThatWouldOverflowTheStartTagIsRefused)
{
    xmldoc doc(u"<r><s/></r>");
    ASSERT_TRUE(doc.findNextChild(u"s"));
    const std::u16string value(static_cast<size_t>(MAX_START_TAG_LENGTH), u'x');
    EXPECT_FALSE(doc.putAttribute(doc.childIndex, u"v", value, 0));
    EXPECT_EQ(doc.text, u"<r><s/></r>");
    EXPECT_TRUE(doc.putAttribute(doc.childIndex, u"v", std::u16string_view(value).substr(0, 1000), 0));
    EXPECT_EQ(checkIndex(doc), "");
}

} // namespace
