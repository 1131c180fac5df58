// The tolerant parser: repairs, result records, soundness and the shape of the index.
#include <gtest/gtest.h>

#include <ostream>

#include "support/indexcheck.h"
#include "support/xmltesttext.h"
#include "resultrecord.h"
#include "xmldoc.h"

namespace {

struct parsecase {
    const char* name;
    const char* text;
    uint32_t docFlags;
    const char* results;
    bool sound;
    const char* shape;
};

std::ostream& operator<<(std::ostream& out, const parsecase& c) { return out << c.name << ": " << c.text; }

constexpr parsecase parseCases[] = {
    {"well_formed_nesting", "<a><b></b></a>", 0, "", true, "a@0+14(b@3+7)"},
    {"inner_left_open", "<a><b></a>", 0, R"(<unended_start_tag tagname="b" offset="3" offset2="7"/>)", false,
     "a@0+10(b@3+3~)"},
    {"child_of_unended_is_hoisted", "<a><b><c/></a>", 0, R"(<unended_start_tag tagname="b" offset="3" offset2="11"/>)",
     false, "a@0+14(b@3+3~,c@6+4)"},
    {"closed_grandchild_is_hoisted_whole", "<a><b><c><d/></c></a>", 0,
     R"(<unended_start_tag tagname="b" offset="3" offset2="18"/>)", false, "a@0+21(b@3+3~,c@6+11(d@9+4))"},
    {"two_open_levels_closed_innermost_first", "<a><b><c><d/></a>", 0,
     R"(<unended_start_tag tagname="c" offset="6" offset2="14"/>)"
     R"(<unended_start_tag tagname="b" offset="3" offset2="14"/>)",
     false, "a@0+17(b@3+3~,c@6+3~,d@9+4)"},
    {"lone_end_tag_first", "</x><a/>", 0, R"(<lone_end_tag tagname="x" offset="0"/>)", false, "a@4+4"},
    {"lone_end_tag_after_repair", "<a><b></a></b>", 0,
     R"(<unended_start_tag tagname="b" offset="3" offset2="7"/><lone_end_tag tagname="b" offset="10"/>)", false,
     "a@0+10(b@3+3~)"},
    {"end_tag_of_other_name", "<ab></a>", 0,
     R"(<lone_end_tag tagname="a" offset="4"/><unended_start_tag tagname="ab" offset="0" offset2="8"/>)", false,
     "ab@0+4~"},
    {"empty_end_tag_matches_nothing", "<r></></r>", 0, R"(<lone_end_tag tagname="" offset="3"/>)", false, "r@0+10*"},
    {"end_tag_closes_name_up_to_boundary", "<a=b></a>", 0, "", true, "a@0+9"},
    {"two_roots", "<a/><b/>", 0, "<root_has_sibling/>", false, "a@0+4,b@4+4"},
    {"empty_text", "", 0, "", false, ""},
    {"whitespace_only", " \r\n\t", 0, "<no_root_element/>", false, ""},
    {"declaration_only", R"(<?xml version="1.0"?>)", 0, "<no_root_element/>", false, ""},
    {"quoted_gt_inside_tag", "<a x='>'/>", 0, "", true, "a@0+10"},
    {"unquoted_value_takes_slash", "<a x=1/>", 0, R"(<unended_start_tag tagname="a" offset="0" offset2="8"/>)", false,
     "a@0+8~"},
    {"unquoted_value_then_space_slash", "<a x=1 />", 0, "", true, "a@0+9"},
    {"equals_then_space_slash_is_empty", "<a x= />", 0, "", true, "a@0+8"},
    {"shortest_comment", "<!--><r/>", 0, "", true, "r@5+4"},
    {"comment_holds_markup", "<r><!-- <x> --></r>", 0, "", true, "r@0+19"},
    {"cdata_holds_markup", "<r><![CDATA[<x>]]></r>", 0, "", true, "r@0+22"},
    {"unterminated_comment", "<r/><!-- x", 0, R"(<unterminated_tag_syntax type="comment" offset="4"/>)", false,
     "r@0+4"},
    {"unterminated_start_tag", "<r><a x=\"1", 0,
     R"(<unterminated_tag_syntax type="start_tag" offset="3"/><unended_start_tag tagname="r" offset="0" offset2="10"/>)",
     false, "r@0+3~"},
    {"unterminated_end_tag", "<r></r", 0,
     R"(<unterminated_tag_syntax type="end_tag" offset="3"/><unended_start_tag tagname="r" offset="0" offset2="6"/>)",
     false, "r@0+3~"},
    {"unterminated_bare_lt", "<r/><", 0, R"(<unterminated_tag_syntax type="tag" offset="4"/>)", false, "r@0+4"},
    {"unterminated_bang_dash", "<r/><!-", 0, R"(<unterminated_tag_syntax type="tag" offset="4"/>)", false, "r@0+4"},
    {"unterminated_doctype", "<r/><!D", 0, R"(<unterminated_tag_syntax type="document_type" offset="4"/>)", false,
     "r@0+4"},
    {"unterminated_inside_doctype_subset", "<!DOCTYPE r [<!ENTITY e 'x", 0,
     R"(<unterminated_tag_syntax type="document_type" offset="0"/><no_root_element/>)", false, ""},
    {"unterminated_cdata", "<r/><![CDATA[x", 0, R"(<unterminated_tag_syntax type="cdata_section" offset="4"/>)", false,
     "r@0+4"},
    {"unterminated_pi", "<r/><?pi x", 0, R"(<unterminated_tag_syntax type="processing_instruction" offset="4"/>)",
     false, "r@0+4"},
    {"pi_needs_its_own_question_mark", "<r><?></r>", 0,
     R"(<unterminated_tag_syntax type="processing_instruction" offset="3"/>)"
     R"(<unended_start_tag tagname="r" offset="0" offset2="10"/>)",
     false, "r@0+3~"},
    {"name_runs_to_end", "<abc", 0, R"(<unterminated_tag_syntax type="start_tag" offset="0"/><no_root_element/>)",
     false, ""},
    {"space_after_lt", "<r>< a></r>", 0, R"(<first_tag_syntax offset="3"/>)", false, "r@0+11*"},
    {"space_after_lt_no_root", "< a>", 0, R"(<first_tag_syntax offset="0"/><no_root_element/>)", false, ""},
    {"error_node_resumes_at_next_tag", "<r><!x<a/></r>", 0, R"(<exclamation_tag_syntax offset="3"/>)", false,
     "r@0+14*(a@6+4)"},
    {"two_syntax_errors", "<r><!x><![y></r>", 0,
     R"(<exclamation_tag_syntax offset="3"/><cdata_section_syntax offset="7"/>)", false, "r@0+16*"},
    {"comment_syntax", "<r><!-x></r>", 0, R"(<comment_tag_syntax offset="3"/>)", false, "r@0+12*"},
    {"error_in_unended_moves_up", "<a><b><!x></a>", 0,
     R"(<exclamation_tag_syntax offset="6"/><unended_start_tag tagname="b" offset="3" offset2="11"/>)", false,
     "a@0+14*(b@3+3~)"},
    {"doctype_with_quoted_gt", R"(<!DOCTYPE r [<!ENTITY e "x>y">]><r/>)", 0, "", true, "r@32+4"},
    {"doctype_error_waits_for_error_node", "<!DOCTYPE r [<!x>]><r/>", 0, "", true, "r@19+4"},
    {"doctype_error_released_by_next_error", "<!DOCTYPE r [<!x>]><r>< </r>", 0,
     R"(<doctype_tag_syntax offset="13"/><first_tag_syntax offset="22"/>)", false, "r@19+9*"},
    {"ignore_case_closes", "<A></a>", DOC_IGNORE_CASE, "", true, "A@0+7"},
    {"exact_case_does_not_close", "<A></a>", 0,
     R"(<lone_end_tag tagname="a" offset="3"/><unended_start_tag tagname="A" offset="0" offset2="7"/>)", false,
     "A@0+3~"},
    {"tagname_is_escaped_in_record", "<r></a&b\"></r>", 0, R"(<lone_end_tag tagname="a&amp;b&quot;" offset="3"/>)",
     false, "r@0+14*"},
    {"text_with_gt_and_non_ascii", "<r>a>b \xE4\xB8\xAD</r>", 0, "", true, "r@0+12"},
};

class ParseCase : public ::testing::TestWithParam<parsecase> {};

TEST_P(ParseCase, RecordsVerdictAndShape)
{
    const parsecase& c = GetParam();
    xmldoc doc;
    doc.docFlags = c.docFlags;
    const bool sound = doc.setText(u16(c.text));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(u8(doc.resultText()), c.results);
    EXPECT_EQ(sound, c.sound);
    EXPECT_EQ(doc.isSound(), c.sound);
    EXPECT_EQ(describeIndex(doc), c.shape);
    EXPECT_EQ(doc.currentIndex, 0);
    EXPECT_EQ(doc.childIndex, 0);
    EXPECT_EQ(doc.parentIndex, 0);
}

INSTANTIATE_TEST_SUITE_P(Parser, ParseCase, ::testing::ValuesIn(parseCases),
                         [](const ::testing::TestParamInfo<parsecase>& info) { return std::string(info.param.name); });

struct scancase {
    const char* name;
    const char* text;
    const char* nodes; // kind:length for every node up to the end
};

std::ostream& operator<<(std::ostream& out, const scancase& c) { return out << c.name << ": " << c.text; }

constexpr scancase scanCases[] = {
    {"text_ends_after_inner_gt", "a>b<r/>", "text:2 text:1 empty:4"},
    {"leading_gt_stays_in_text", ">x", "text:2"},
    {"whitespace_then_tag", "  <r/>", "space:2 empty:4"},
    {"whitespace_turns_into_text", " x ", "text:3"},
    {"shortest_comment", "<!-->", "comment:5"},
    {"comment_with_dashes", "<!--->x", "comment:6 text:1"},
    {"quoted_gt_and_slash", "<a x=\"/>\">", "start:10"},
    {"cdata", "<![CDATA[a]]>", "cdata:13"},
    {"pi", "<?p?>", "pi:5"},
    {"doctype", "<!DOCTYPE r>", "doctype:12"},
    {"doctype_subset_with_comment", "<!DOCTYPE r [<!-- > -->]>", "doctype:25"},
    {"double_lt", "<<a/>", "error:1 empty:4"},
    {"unquoted_value_with_slash", "<a x=y/>", "start:8"},
    {"quoted_value_then_slash", "<a x=\"y\"/>", "empty:10"},
    {"slash_then_space", "<a/ >", "start:5"},
    {"second_equals_opens_value", "<a x==/>", "start:8"},
    {"end_tag_keeps_lt", "</a <b>", "end:7"},
    {"bad_bang", "<!x>", "error:4"},
    {"empty_tag_in_error_node", "<>", "error:2"},
};

std::string kindName(int32_t kind, uint32_t flags)
{
    switch (kind) {
    case KIND_END_TAG: return "end";
    case KIND_ELEMENT: return (flags & EMPTY_ELEMENT_TAG) ? "empty" : "start";
    case KIND_TEXT: return "text";
    case KIND_WHITESPACE: return "space";
    case KIND_CDATA: return "cdata";
    case KIND_PI: return "pi";
    case KIND_COMMENT: return "comment";
    case KIND_DOCTYPE: return "doctype";
    case KIND_ERROR: return "error";
    default: return "?";
    }
}

class ScanCase : public ::testing::TestWithParam<scancase> {};

TEST_P(ScanCase, NodeKindsAndLengths)
{
    const std::u16string text = u16(GetParam().text);
    tokencursor cursor;
    cursor.text = text.c_str();
    nodetoken token;
    std::string nodes;
    for (int guard = 0; guard < 100; ++guard) {
        const int32_t start = cursor.next;
        const int32_t kind = scanNode(cursor, token);
        if (kind == KIND_END) break;
        ASSERT_GT(token.length, 0);
        ASSERT_EQ(token.start, start);
        if (!nodes.empty()) nodes += ' ';
        nodes += kindName(kind, token.flags) + ":" + std::to_string(token.length);
    }
    EXPECT_EQ(nodes, GetParam().nodes);
}

INSTANTIATE_TEST_SUITE_P(Scanner, ScanCase, ::testing::ValuesIn(scanCases),
                         [](const ::testing::TestParamInfo<scancase>& info) { return std::string(info.param.name); });

struct comparecase {
    const char16_t* a;
    const char16_t* b;
    int32_t count;
    bool ignoreCase;
    int sign;
};

std::ostream& operator<<(std::ostream& out, const comparecase& c)
{
    return out << u8(c.a) << " vs " << u8(c.b) << " count " << c.count << (c.ignoreCase ? " ignoring case" : "");
}

constexpr comparecase compareCases[] = {
    {u"abc", u"abc", 3, false, 0},          {u"abc", u"abd", 3, false, -1},
    {u"abc", u"ABC", 3, false, 1},          {u"abc", u"ABC", 3, true, 0},
    {u"a\u00e9b", u"a\u00e9B", 3, true, 1}, // a matching non-ASCII unit makes the rest exact
    {u"\u00e9", u"\u00c9", 1, true, 1},     // only ASCII letters fold
    {u"abX", u"abY", 2, false, 0},          {u"[", u"{", 1, true, -1},
};

class CompareCase : public ::testing::TestWithParam<comparecase> {};

TEST_P(CompareCase, Sign)
{
    const comparecase& c = GetParam();
    const int r = compareNames(c.a, c.b, c.count, c.ignoreCase);
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
}

INSTANTIATE_TEST_SUITE_P(Names, CompareCase, ::testing::ValuesIn(compareCases));

TEST(Parser, ResultsStopGrowingAtTheLimit)
{
    std::string text = "<r>";
    for (int i = 0; i < 200; ++i) text += "</x>";
    text += "</r>";
    xmldoc doc;
    EXPECT_FALSE(doc.setText(u16(text)));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_GE(doc.resultText().size(), RESULT_LIMIT);
    EXPECT_LT(doc.resultText().size(), RESULT_LIMIT + 64);
    EXPECT_EQ(doc.resultText().find(u"root_has_sibling"), std::u16string::npos);
}

TEST(Parser, EmbeddedZeroUnitEndsTheScan)
{
    std::u16string text = u"<r><a/>";
    text += char16_t(0);
    text += u"<b/></r>";
    xmldoc doc;
    EXPECT_FALSE(doc.setText(std::u16string_view(text)));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(describeIndex(doc), "r@0+3~,a@3+4");
    EXPECT_EQ(u8(doc.resultText()), R"(<unended_start_tag tagname="r" offset="0" offset2="16"/><root_has_sibling/>)");
}

TEST(Parser, ResultsStayAsParsedAfterEdits)
{
    xmldoc doc(u"<a><b></a></x>");
    const std::string parsed = u8(doc.resultText());
    ASSERT_EQ(parsed,
              R"(<unended_start_tag tagname="b" offset="3" offset2="7"/><lone_end_tag tagname="x" offset="10"/>)");
    // The edit puts other names at the offsets the records give.
    ASSERT_TRUE(doc.findNext(nullptr));
    ASSERT_TRUE(doc.insertElement(u"zz", u"", ADD_AS_CHILD | ADD_BEFORE));
    ASSERT_TRUE(doc.putAttribute(doc.currentIndex, u"q", u"1", 0));
    EXPECT_EQ(u8(doc.resultText()), parsed);
}

TEST(Parser, FaultsHeldByOneErrorNodeAreAppendedWhole)
{
    // Forty faults inside a declaration wait for the error node "< "; the records they make pass the limit
    // together, and the error node's own fault no longer fits among them.
    std::string text = "</x><!DOCTYPE r [";
    for (int i = 0; i < 40; ++i) text += "<!x>";
    text += "]><r>< </r>";
    std::string held;
    for (int i = 0; i < 40 && held.size() < RESULT_LIMIT; ++i)
        held += R"(<doctype_tag_syntax offset=")" + std::to_string(17 + 4 * i) + R"("/>)";
    xmldoc doc;
    EXPECT_FALSE(doc.setText(u16(text)));
    EXPECT_EQ(checkIndex(doc), "");
    EXPECT_EQ(u8(doc.resultText()), R"(<lone_end_tag tagname="x" offset="0"/>)" + held);
}

} // namespace
