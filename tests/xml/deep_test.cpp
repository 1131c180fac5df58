// Inputs whose depth or size would overflow a recursive parser or walker.
#include <gtest/gtest.h>

#include <ostream>

#include "support/indexcheck.h"
#include "support/xmltesttext.h"
#include "resultrecord.h"
#include "xmldoc.h"

namespace {

struct deepcase {
    const char* name;
    int depth;
    bool closed;
};

std::ostream& operator<<(std::ostream& out, const deepcase& c) { return out << c.name; }

constexpr deepcase deepCases[] = {
    {"closed_100000_levels", 100000, true},
    {"unclosed_100000_levels", 100000, false},
    {"closed_past_the_level_field", 70000, true},
};

class Deep : public ::testing::TestWithParam<deepcase> {};

TEST_P(Deep, ParsesEditsAndChecksWithoutRecursion)
{
    const deepcase& c = GetParam();
    std::u16string text;
    text.reserve(static_cast<size_t>(c.depth) * 8);
    for (int i = 0; i < c.depth; ++i) text += u"<e>";
    text += u"<leaf/>";
    if (c.closed)
        for (int i = 0; i < c.depth; ++i) text += u"</e>";
    xmldoc doc;
    EXPECT_EQ(doc.setText(std::u16string_view(text)), c.closed);
    ASSERT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.nextFreeRecord, c.depth + 2);
    const int32_t leaf = c.depth + 1;
    if (c.closed) {
        EXPECT_EQ(doc.record(leaf).level(), static_cast<uint32_t>(c.depth) & REC_LEVEL_MASK);
        EXPECT_EQ(doc.record(leaf).parent, c.depth);
    } else {
        // Every open element became a start tag only; all of them are siblings under the document.
        EXPECT_EQ(doc.record(leaf).level(), 0u);
        EXPECT_EQ(doc.record(leaf).parent, 0);
        EXPECT_GE(doc.resultText().size(), RESULT_LIMIT);
    }
    // An edit at the very start walks every later record.
    ASSERT_TRUE(doc.findNext(nullptr));
    ASSERT_TRUE(doc.putAttribute(doc.currentIndex, u"a", u"1", 0));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.record(leaf).startOffset, 3 * c.depth + 6);
}

INSTANTIATE_TEST_SUITE_P(Depth, Deep, ::testing::ValuesIn(deepCases),
                         [](const ::testing::TestParamInfo<deepcase>& info) { return std::string(info.param.name); });

} // namespace
