// The paged record store, the document record and the two edit primitives.
#include <gtest/gtest.h>

#include <ostream>

#include "support/indexcheck.h"
#include "support/xmltesttext.h"
#include "xmldoc.h"

namespace {

TEST(Store, NullTextLeavesEightRecordsAndZeroedState)
{
    xmldoc doc;
    EXPECT_EQ(doc.elements->capacity, 0);
    EXPECT_FALSE(doc.setText(static_cast<const char16_t*>(nullptr)));
    EXPECT_TRUE(doc.text.empty());
    EXPECT_TRUE(doc.resultText().empty());
    EXPECT_EQ(doc.elements->capacity, 8);
    const elementrecord& d = doc.record(0);
    EXPECT_EQ(d.startOffset | d.totalLength | static_cast<int32_t>(d.tagLengths | d.flags) | d.parent | d.firstChild |
                  d.nextSibling | d.prevSibling,
              0);
    EXPECT_EQ(doc.nextFreeRecord, 1);
    EXPECT_EQ(doc.parentIndex | doc.currentIndex | doc.childIndex | doc.nodeKind, 0);
    EXPECT_EQ(checkIndex(doc), "");
}

TEST(Store, NullTextReleasesPagesOfALargerStore)
{
    xmldoc doc(u"<r><a/><a/><a/><a/><a/><a/><a/><a/><a/><a/></r>");
    EXPECT_GT(doc.elements->capacity, 8);
    doc.setText(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(doc.elements->capacity, 8);
    EXPECT_EQ(doc.elements->pageSlots(), 4);
}

struct growthcase {
    const char* name;
    int elements;
    int32_t capacity;
};

std::ostream& operator<<(std::ostream& out, const growthcase& c) { return out << c.name; }

constexpr growthcase growthCases[] = {
    {"fits_first_sizing", 17, 18},
    {"nineteenth_record_grows_by_half", 18, 27},
    {"still_fits_second_size", 26, 27},
    {"grows_again_by_half", 27, 40},
};

// A 640-unit text holding exactly n elements: a root and n - 1 empty children, padded with spaces.
std::u16string textOf640Units(int n)
{
    std::u16string text = u"<r>";
    for (int i = 1; i < n; ++i) text += u"<a/>";
    text.append(640 - text.size() - 4, u' ');
    text += u"</r>";
    return text;
}

class Growth : public ::testing::TestWithParam<growthcase> {};

TEST_P(Growth, CapacityAfterParse)
{
    const std::u16string text = textOf640Units(GetParam().elements);
    ASSERT_EQ(text.size(), 640u);
    xmldoc doc;
    EXPECT_TRUE(doc.setText(std::u16string_view(text)));
    EXPECT_EQ(doc.nextFreeRecord, GetParam().elements + 1);
    EXPECT_EQ(doc.elements->capacity, GetParam().capacity);
    EXPECT_EQ(checkIndex(doc), "");
}

INSTANTIATE_TEST_SUITE_P(Store, Growth, ::testing::ValuesIn(growthCases),
                         [](const ::testing::TestParamInfo<growthcase>& info) { return std::string(info.param.name); });

TEST(Store, SeventyThousandElementsSpanTwoPages)
{
    std::u16string text = u"<r>";
    for (int i = 1; i < 70000; ++i) text += u"<a/>";
    text += u"</r>";
    xmldoc doc;
    EXPECT_TRUE(doc.setText(std::u16string_view(text)));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.nextFreeRecord, 70001);
    EXPECT_GT(doc.elements->capacity, 70000);
    EXPECT_LT(doc.elements->capacity, 2 * STORE_PAGE_RECORDS);
    EXPECT_EQ(&doc.record(65536), &doc.elements->pages[1][0]);
    EXPECT_EQ(&doc.record(65535), &doc.elements->pages[0][65535]);
    EXPECT_EQ(doc.record(65536).startOffset, 3 + (65536 - 2) * 4);
}

TEST(Store, FullPageIsNotCopiedWhenTheNextPageIsAdded)
{
    elementstore store;
    store.grow(STORE_PAGE_RECORDS);
    store.at(65535).startOffset = 1234;
    elementrecord* page0 = store.pages[0].get();
    store.grow(STORE_PAGE_RECORDS + STORE_PAGE_RECORDS / 2);
    EXPECT_EQ(store.pages[0].get(), page0);
    EXPECT_EQ(store.capacity, 98304);
    EXPECT_EQ(store.at(65535).startOffset, 1234);
}

TEST(Store, PartialLastPageMovesWithItsRecords)
{
    elementstore store;
    store.grow(100);
    for (int32_t i = 0; i < 100; ++i) store.at(i).startOffset = i * 3;
    store.grow(150);
    EXPECT_EQ(store.capacity, 150);
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(store.at(i).startOffset, i * 3);
    // A partial page 0 is first completed, so page 1 never sits beside a short page 0.
    store.grow(70000);
    EXPECT_EQ(store.capacity, 70000);
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(store.at(i).startOffset, i * 3);
    store.at(65535).startOffset = 7;
    store.at(69999).startOffset = 8;
    EXPECT_EQ(store.at(65535).startOffset, 7);
}

TEST(Store, OneGrowthStopsAtTheEndOfTheNextPage)
{
    elementstore store;
    store.grow(10);
    store.grow(5 * STORE_PAGE_RECORDS);
    EXPECT_EQ(store.capacity, 2 * STORE_PAGE_RECORDS);
    store.grow(5 * STORE_PAGE_RECORDS);
    EXPECT_EQ(store.capacity, 3 * STORE_PAGE_RECORDS);
    EXPECT_GE(store.pageSlots(), 3);
}

// Inserts "<n/>" at offset by hand and links it with the primitives alone.
void linkByHand(xmldoc& doc, int32_t parent, int32_t after, int32_t offset)
{
    const int32_t r = doc.handOutRecord();
    doc.replaceText(offset, 0, u"<n/>");
    elementrecord& rr = doc.record(r);
    rr.startOffset = offset;
    rr.totalLength = 4;
    rr.setTagLengths(4, 0);
    rr.firstChild = 0;
    rr.flags = 0;
    doc.linkRecord(parent, after, r);
    doc.shiftFollowing(r, 4, false);
}

TEST(Primitives, NewFirstChildTakesOverTheFlagAndKeepsTheLastChild)
{
    xmldoc doc(u"<r><a/><b/></r>");
    const int32_t r = doc.record(0).firstChild;
    const int32_t a = doc.record(r).firstChild;
    const int32_t b = doc.record(a).nextSibling;
    linkByHand(doc, r, 0, 3);
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.text, u"<r><n/><a/><b/></r>");
    const int32_t n = doc.record(r).firstChild;
    EXPECT_NE(n, a);
    EXPECT_TRUE(doc.record(n).flags & REC_FIRST_CHILD);
    EXPECT_FALSE(doc.record(a).flags & REC_FIRST_CHILD);
    EXPECT_EQ(doc.record(n).prevSibling, b);
    EXPECT_EQ(doc.record(a).prevSibling, n);
    EXPECT_EQ(doc.record(n).level(), 1u);
    EXPECT_EQ(describeIndex(doc), "r@0+19(n@3+4,a@7+4,b@11+4)");
}

TEST(Primitives, LinkingAfterTheLastChildUpdatesTheFirstChildsBackLink)
{
    xmldoc doc(u"<r><a/></r>");
    const int32_t r = doc.record(0).firstChild;
    const int32_t a = doc.record(r).firstChild;
    linkByHand(doc, r, a, 7);
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(doc.record(a).prevSibling, doc.record(a).nextSibling);
    EXPECT_EQ(describeIndex(doc), "r@0+15(a@3+4,n@7+4)");
}

struct shiftcase {
    const char* name;
    const char* text;
    const char* element; // name of the element whose tag is lengthened
    bool inEndTag;       // lengthen the end tag (children stay) instead of the start tag
    const char* edited;
};

std::ostream& operator<<(std::ostream& out, const shiftcase& c) { return out << c.name; }

constexpr shiftcase shiftCases[] = {
    {"start_tag_moves_descendants_and_followers", "<r><x/><p a=\"1\"><c/><d><e/></d></p><f/></r>", "p", false,
     "<r><x/><p a=\"1\" b=\"12345\"><c/><d><e/></d></p><f/></r>"},
    {"top_level_start_tag", "<p><c/></p><q/>", "p", false, "<p b=\"12345\"><c/></p><q/>"},
    {"end_tag_keeps_children_in_place", "<r><p><c/></p><f/></r>", "p", true, "<r><p><c/></p          ><f/></r>"},
    {"deepest_last_element", "<r><p><c><d/></c></p></r>", "d", false, "<r><p><c><d b=\"12345\"/></c></p></r>"},
};

// The record named name, found in text order.
int32_t findByName(const xmldoc& doc, const char16_t* name)
{
    for (int32_t i = 1; i < doc.nextFreeRecord; ++i)
        if (doc.tagName(i) == name) return i;
    return 0;
}

class Shift : public ::testing::TestWithParam<shiftcase> {};

TEST_P(Shift, TenUnitsMoveFollowersAndLengthenEnclosers)
{
    const shiftcase& c = GetParam();
    xmldoc doc;
    doc.setText(u16(c.text));
    const int32_t p = findByName(doc, u16(c.element).c_str());
    ASSERT_NE(p, 0);
    std::vector<elementrecord> before(static_cast<size_t>(doc.nextFreeRecord));
    for (int32_t i = 0; i < doc.nextFreeRecord; ++i) before[static_cast<size_t>(i)] = doc.record(i);
    elementrecord& e = doc.record(p);
    if (c.inEndTag) {
        doc.replaceText(e.startOffset + e.totalLength - 1, 0, u"          ");
        e.setTagLengths(e.startTagLength(), e.endTagLength() + 10);
    } else {
        const int32_t close = e.startOffset + e.startTagLength() - 1 - (e.endTagLength() == 0 ? 1 : 0);
        doc.replaceText(close, 0, u" b=\"12345\"");
        e.setTagLengths(e.startTagLength() + 10, e.endTagLength());
    }
    e.totalLength += 10;
    doc.shiftFollowing(p, 10, c.inEndTag);
    EXPECT_EQ(u8(doc.text), c.edited);
    EXPECT_EQ(checkIndex(doc), "");
    xmldoc reparsed;
    reparsed.setText(std::u16string_view(doc.text));
    EXPECT_EQ(describeIndex(doc), describeIndex(reparsed));
    const int32_t pEnd = before[static_cast<size_t>(p)].startOffset + before[static_cast<size_t>(p)].totalLength;
    for (int32_t i = 1; i < doc.nextFreeRecord; ++i) {
        const elementrecord& was = before[static_cast<size_t>(i)];
        const elementrecord& now = doc.record(i);
        const bool encloses =
            was.startOffset < before[static_cast<size_t>(p)].startOffset && was.startOffset + was.totalLength >= pEnd;
        const bool follows =
            was.startOffset > before[static_cast<size_t>(p)].startOffset && !(c.inEndTag && was.startOffset < pEnd);
        EXPECT_EQ(now.startOffset - was.startOffset, follows ? 10 : 0) << "record " << i;
        EXPECT_EQ(now.totalLength - was.totalLength, (encloses || i == p) ? 10 : 0) << "record " << i;
    }
    EXPECT_EQ(doc.record(0).totalLength, static_cast<int32_t>(doc.text.size()));
}

INSTANTIATE_TEST_SUITE_P(Primitives, Shift, ::testing::ValuesIn(shiftCases),
                         [](const ::testing::TestParamInfo<shiftcase>& info) { return std::string(info.param.name); });

TEST(Primitives, ReplaceTextReservesHalfAgainPlusSlack)
{
    xmldoc doc(u"<r/>");
    doc.text.shrink_to_fit();
    doc.replaceText(2, 0, std::u16string(100, u' '));
    EXPECT_EQ(doc.text.size(), 104u);
    EXPECT_GE(doc.text.capacity(), 104u + 52u + 128u);
    EXPECT_EQ(doc.text.substr(0, 2), u"<r");
    EXPECT_EQ(doc.text.substr(102), u"/>");
}

} // namespace
