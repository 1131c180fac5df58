// Document files in their own encoding: detection, decoding, records and the
// bytes written back.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "docfile.h"
#include "support/scratchdir.h"
#include "support/xmltesttext.h"
#include "xmldoc.h"
#include "xmlplatform.h"
#include "xmlscan.h"

namespace {

std::u16string widen(const std::string& ascii)
{
    std::u16string out;
    for (char c : ascii) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

std::u16string fixturePath(const char* name)
{
#ifdef _WIN32
    // The build tree's Unix paths are reached through Wine's Z: drive.
    return u"Z:" + widen(XML_FIXTURES_DIR) + u"/" + widen(name);
#else
    return widen(XML_FIXTURES_DIR) + u"/" + widen(name);
#endif
}

std::u16string scratchPath(const std::string& name) { return widen(scratchDirectory() + "docfile_" + name); }

// The whole file, or "<missing>" when it cannot be opened.
std::string fileBytes(const std::u16string& path)
{
    FILE* stream = openFileWide(path.c_str(), "rb");
    if (stream == nullptr) return "<missing>";
    std::string out;
    char buffer[256];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) out.append(buffer, got);
    fclose(stream);
    return out;
}

bool putFile(const std::u16string& path, const std::string& bytes)
{
    FILE* stream = openFileWide(path.c_str(), "wb");
    if (stream == nullptr) return false;
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return fclose(stream) == 0 && ok;
}

const uint32_t NO_FLAGS = 0;

// One file read with readTextFile, then written back with writeTextFile and
// the flags the read left.
struct readrow {
    const char* label;
    const char* file;
    uint32_t flagsIn;
    bool ok;
    const char* text; // UTF-8
    const char* records;
    uint32_t flagsOut;
    bool saveBack;
    const char* savedBytes; // null: byte for byte the file read
    const char* saveRecords;
};

std::ostream& operator<<(std::ostream& os, const readrow& row) { return os << row.label; }

const readrow readrows[] = {
    {"utf8_with_mark", "utf8_with_mark.xml", NO_FLAGS, true, "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD</r>\r\n",
     R"(<bom/><read encoding="UTF-8" length="22"/><converted_to encoding="UTF-16" length="19"/>)", DOC_UTF8_BOM, true,
     nullptr, R"(<bom/><converted_from encoding="UTF-16" length="19"/><write encoding="UTF-8" length="22"/>)"},
    {"utf8_without_mark_markup", "utf8_without_mark.xml", NO_FLAGS, true, "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD</r>\r\n",
     R"(<read encoding="UTF-8" length="22"/><converted_to encoding="UTF-16" length="19"/>)", NO_FLAGS, true, nullptr,
     R"(<converted_from encoding="UTF-16" length="19"/><write encoding="UTF-8" length="22"/>)"},
    {"utf16le_mark", "utf16le_with_mark.xml", NO_FLAGS, true,
     "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD\xF0\x9F\x98\x80</r>\r\n", R"(<bom/><read encoding="UTF-16LE" length="21"/>)",
     DOC_UTF16LE_BOM, true, nullptr, R"(<bom/><write encoding="UTF-16LE" length="21"/>)"},
    {"utf16be_mark", "utf16be_with_mark.xml", NO_FLAGS, true,
     "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD\xF0\x9F\x98\x80</r>\r\n",
     R"(<bom/><read encoding="UTF-16BE" length="21"/><endian_swap/>)", DOC_UTF16BE_BOM, true, nullptr,
     R"(<bom/><endian_swap/><write encoding="UTF-16BE" length="21"/>)"},
    {"gb2312_declared_at_offset_0", "gb2312_declared.xml", NO_FLAGS, true,
     "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<r>\xE4\xB8\xAD\xE5\x9B\xBD</r>\r\n",
     R"(<read encoding="GB2312" length="54"/><converted_to encoding="UTF-16" length="52"/>)", NO_FLAGS, true, nullptr,
     R"(<converted_from encoding="UTF-16" length="52"/><write encoding="GB2312" length="54"/>)"},
    // Not at offset 0, so not a declaration; not UTF-8 either, so the ANSI
    // code page (1252 in the tests) decodes it, and it goes back as UTF-8.
    {"gb2312_declared_after_blank_line", "gb2312_declared_after_blank_line.xml", NO_FLAGS, true,
     "\r\n<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<r>\xC3\x96\xC3\x90\xC2\xB9\xC3\xBA</r>\r\n",
     R"(<read encoding="" length="56"/><utf8_detection/><converted_to encoding="UTF-16" length="56"/>)", NO_FLAGS, true,
     "\r\n<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<r>\xC3\x96\xC3\x90\xC2\xB9\xC3\xBA</r>\r\n",
     R"(<converted_from encoding="UTF-16" length="56"/><write encoding="UTF-8" length="60"/>)"},
    {"html_meta_charset_big5", "html_meta_big5.html", NO_FLAGS, true,
     "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\">"
     "<title>\xE4\xB8\xAD\xE6\x96\x87</title></head></html>",
     R"(<read encoding="big5" length="111"/><converted_to encoding="UTF-16" length="109"/>)", NO_FLAGS, true, nullptr,
     R"(<converted_from encoding="UTF-16" length="109"/><write encoding="big5" length="111"/>)"},
    {"html_head_end_before_meta", "html_meta_after_head_end.html", NO_FLAGS, true,
     "<html><head></head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\">"
     "\xEF\xBF\xBD\xEF\xBF\xBD</html>",
     R"(<read encoding="UTF-8" length="94"/><converted_to encoding="UTF-16" length="94"/>)", NO_FLAGS, true,
     "<html><head></head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=big5\">"
     "\xEF\xBF\xBD\xEF\xBF\xBD</html>",
     R"(<converted_from encoding="UTF-16" length="94"/><write encoding="UTF-8" length="98"/>)"},
    {"no_mark_no_declaration_valid_utf8_not_markup", "text_utf8_not_markup.txt", NO_FLAGS, true, "caf\xC3\xA9\r\n",
     R"(<read encoding="UTF-8" length="7"/><utf8_detection/><converted_to encoding="UTF-16" length="6"/>)", NO_FLAGS,
     true, nullptr, R"(<converted_from encoding="UTF-16" length="6"/><write encoding="UTF-8" length="7"/>)"},
    {"invalid_utf8_markup_takes_replacement", "invalid_utf8_markup.xml", NO_FLAGS, true, "<r>caf\xEF\xBF\xBD</r>",
     R"(<read encoding="UTF-8" length="11"/><converted_to encoding="UTF-16" length="11"/>)", NO_FLAGS, true,
     "<r>caf\xEF\xBF\xBD</r>",
     R"(<converted_from encoding="UTF-16" length="11"/><write encoding="UTF-8" length="13"/>)"},
    {"invalid_utf8_not_markup_reads_ansi", "invalid_utf8_not_markup.txt", NO_FLAGS, true, "caf\xC3\xA9 au lait",
     R"(<read encoding="" length="12"/><utf8_detection/><converted_to encoding="UTF-16" length="12"/>)", NO_FLAGS, true,
     "caf\xC3\xA9 au lait", R"(<converted_from encoding="UTF-16" length="12"/><write encoding="UTF-8" length="13"/>)"},
    {"zero_bytes_utf16le_ascii_without_mark", "utf16le_ascii_without_mark.xml", NO_FLAGS, true, "<r a=\"1\"/>",
     R"(<read encoding="UTF-8" length="20"/><nulls_removed count="10"/><converted_to encoding="UTF-16" length="10"/>)",
     NO_FLAGS, true, "<r a=\"1\"/>",
     R"(<converted_from encoding="UTF-16" length="10"/><write encoding="UTF-8" length="10"/>)"},
    {"empty_file", "empty.xml", NO_FLAGS, true, "", R"(<read encoding="" length="0"/>)", NO_FLAGS, true, nullptr,
     R"(<write encoding="" length="0"/>)"},
    {"utf8_mark_only", "utf8_mark_only.xml", NO_FLAGS, true, "", R"(<bom/><read encoding="UTF-8" length="0"/>)",
     DOC_UTF8_BOM, true, nullptr, R"(<bom/><write encoding="UTF-8" length="0"/>)"},
    {"missing_file_keeps_flags", "no_such_file.xml", DOC_UTF8_BOM | DOC_IGNORE_CASE, false, "",
     R"(<file_error msg="No such file or directory" n="2"/>)", DOC_UTF8_BOM | DOC_IGNORE_CASE, false, nullptr, nullptr},
    // Named by a declaration, not by a mark: the system cannot decode the
    // bytes in these encodings, and the text stays empty.
    {"utf16_declared_without_mark", "utf16_declared_without_mark.xml", NO_FLAGS, true, "",
     R"(<read encoding="UTF-16" length="43"/><converted_to encoding="UTF-16" length="0"/>)", NO_FLAGS, true, "",
     R"(<write encoding="" length="0"/>)"},
    {"utf16be_declared_without_mark", "utf16be_declared_without_mark.xml", NO_FLAGS, true, "",
     R"(<read encoding="UTF-16BE" length="45"/><converted_to encoding="UTF-16" length="0"/>)", NO_FLAGS, true, "",
     R"(<write encoding="" length="0"/>)"},
    // Reading and writing such files would size buffers by the wrong unit;
    // they are refused instead.
    {"utf32_declared_is_refused", "utf32_declared.xml", NO_FLAGS, false, "",
     R"(<unsupported_encoding encoding="UTF-32"/>)", NO_FLAGS, false, nullptr, nullptr},
    // A load forgets every mark bit of the previous load, the big-endian one
    // included, and keeps the other flags.
    {"little_endian_after_big_endian", "utf16le_with_mark.xml", DOC_UTF16BE_BOM | DOC_IGNORE_CASE, true,
     "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD\xF0\x9F\x98\x80</r>\r\n", R"(<bom/><read encoding="UTF-16LE" length="21"/>)",
     DOC_UTF16LE_BOM | DOC_IGNORE_CASE, true, nullptr, R"(<bom/><write encoding="UTF-16LE" length="21"/>)"},
    {"no_mark_after_big_endian", "utf8_without_mark.xml", DOC_UTF16BE_BOM, true,
     "<r a=\"caf\xC3\xA9\">\xE4\xB8\xAD</r>\r\n",
     R"(<read encoding="UTF-8" length="22"/><converted_to encoding="UTF-16" length="19"/>)", NO_FLAGS, true, nullptr,
     R"(<converted_from encoding="UTF-16" length="19"/><write encoding="UTF-8" length="22"/>)"},
    {"empty_file_after_marked_file", "empty.xml", DOC_UTF8_BOM | DOC_UTF16BE_BOM, true, "",
     R"(<read encoding="" length="0"/>)", NO_FLAGS, true, nullptr, R"(<write encoding="" length="0"/>)"},
};

class ReadTextFileTest : public testing::TestWithParam<readrow> {};

TEST_P(ReadTextFileTest, PinsTextRecordsFlagsAndBytesWrittenBack)
{
    const readrow& row = GetParam();
    std::u16string text = u"left over";
    std::u16string results = u"<left_over/>";
    uint32_t flags = row.flagsIn;
    EXPECT_EQ(readTextFile(fixturePath(row.file).c_str(), text, results, &flags), row.ok);
    EXPECT_EQ(u8(text), row.text);
    EXPECT_EQ(u8(results), row.records);
    EXPECT_EQ(flags, row.flagsOut);
    if (!row.saveBack) return;

    const std::u16string out = scratchPath(std::string(row.label) + ".out");
    ASSERT_TRUE(putFile(out, "previous content"));
    const std::u16string before = text;
    EXPECT_TRUE(writeTextFile(out.c_str(), text, results, &flags));
    EXPECT_EQ(u8(results), row.saveRecords);
    EXPECT_EQ(flags, row.flagsOut);
    EXPECT_EQ(text, before);
    const std::string expected = row.savedBytes ? row.savedBytes : fileBytes(fixturePath(row.file));
    EXPECT_EQ(fileBytes(out), expected);
}

INSTANTIATE_TEST_SUITE_P(EncodingMatrix, ReadTextFileTest, testing::ValuesIn(readrows),
                         [](const testing::TestParamInfo<readrow>& info) { return std::string(info.param.label); });

// A text written with writeTextFile over a file that already holds "previous".
struct writerow {
    const char* label;
    const char* text; // UTF-8
    uint32_t flagsIn;
    bool ok;
    const char* records;
    const char* bytes;
    size_t byteCount;
};

std::ostream& operator<<(std::ostream& os, const writerow& row) { return os << row.label; }

#define BYTES(literal) literal, sizeof(literal) - 1

const writerow writerows[] = {
    {"empty_text_without_mark", "", NO_FLAGS, true, R"(<write encoding="" length="0"/>)", BYTES("")},
    {"empty_text_with_utf8_mark", "", DOC_UTF8_BOM, true, R"(<bom/><write encoding="UTF-8" length="0"/>)",
     BYTES("\xEF\xBB\xBF")},
    {"empty_text_with_utf16be_mark", "", DOC_UTF16BE_BOM, true, R"(<bom/><write encoding="UTF-16BE" length="0"/>)",
     BYTES("\xFE\xFF")},
    {"no_declaration_writes_utf8", "<r>\xC3\xA9</r>", DOC_IGNORE_CASE, true,
     R"(<converted_from encoding="UTF-16" length="8"/><write encoding="UTF-8" length="9"/>)", BYTES("<r>\xC3\xA9</r>")},
    {"declared_code_page_lacks_character", "<?xml version='1.0' encoding='ISO-8859-1'?><r>\xE4\xB8\xAD\xC3\xA9</r>",
     NO_FLAGS, true,
     R"(<converted_from encoding="UTF-16" length="52"/><conversion_loss/><write encoding="ISO-8859-1" length="52"/>)",
     BYTES("<?xml version='1.0' encoding='ISO-8859-1'?><r>?\xE9</r>")},
    {"utf16le_mark_writes_units", "<r>\xE4\xB8\xAD</r>", DOC_UTF16LE_BOM, true,
     R"(<bom/><write encoding="UTF-16LE" length="8"/>)", BYTES("\xFF\xFE<\0r\0>\0\x2D\x4E<\0/\0r\0>\0")},
    {"utf16be_mark_writes_swapped_units", "<r>\xE4\xB8\xAD</r>", DOC_UTF16BE_BOM, true,
     R"(<bom/><endian_swap/><write encoding="UTF-16BE" length="8"/>)", BYTES("\xFE\xFF\0<\0r\0>\x4E\x2D\0<\0/\0r\0>")},
    // Refused before the file is opened, so the file keeps what it held.
    {"utf32_declared_is_refused", "<?xml version=\"1.0\" encoding=\"UTF-32\"?><r/>", NO_FLAGS, false,
     R"(<unsupported_encoding encoding="UTF-32"/>)", BYTES("previous")},
};

#undef BYTES

class WriteTextFileTest : public testing::TestWithParam<writerow> {};

TEST_P(WriteTextFileTest, PinsRecordsAndBytes)
{
    const writerow& row = GetParam();
    const std::u16string out = scratchPath(std::string(row.label) + ".out");
    ASSERT_TRUE(putFile(out, "previous"));
    const std::u16string text = u16(row.text);
    std::u16string results = u"<left_over/>";
    uint32_t flags = row.flagsIn;
    EXPECT_EQ(writeTextFile(out.c_str(), text, results, &flags), row.ok);
    EXPECT_EQ(u8(results), row.records);
    EXPECT_EQ(flags, row.flagsIn);
    EXPECT_EQ(fileBytes(out), std::string(row.bytes, row.byteCount));
}

INSTANTIATE_TEST_SUITE_P(EncodingMatrix, WriteTextFileTest, testing::ValuesIn(writerows),
                         [](const testing::TestParamInfo<writerow>& info) { return std::string(info.param.label); });

TEST(WriteTextFileFailure, UnwritablePathReportsAndLeavesFlags)
{
    const std::u16string out = scratchPath("no_such_directory/out.xml");
    std::u16string results = u"<left_over/>";
    uint32_t flags = DOC_UTF8_BOM;
    EXPECT_FALSE(writeTextFile(out.c_str(), u"<r/>", results, &flags));
    EXPECT_EQ(u8(results), R"(<file_error msg="No such file or directory" n="2"/>)");
    EXPECT_EQ(flags, DOC_UTF8_BOM);
    EXPECT_EQ(fileBytes(out), "<missing>");
}

struct declarationrow {
    const char* label;
    const char* text;
    const char* encoding;
};

std::ostream& operator<<(std::ostream& os, const declarationrow& row) { return os << row.label; }

const declarationrow declarationrows[] = {
    {"xml_declaration", "<?xml version=\"1.0\" encoding=\"GB2312\"?><r/>", "GB2312"},
    {"xml_declaration_single_quotes_any_case", "<?XML Version='1.0' ENCODING='big5'?>", "big5"},
    {"xml_declaration_without_encoding", "<?xml version=\"1.0\"?><r/>", ""},
    {"xml_declaration_after_blank_line", "\n<?xml version=\"1.0\" encoding=\"GB2312\"?><r/>", ""},
    {"other_instruction_at_offset_0", "<?style x?><?xml version=\"1.0\" encoding=\"GB2312\"?><r/>", ""},
    {"first_element_ends_search", "<r/><?xml version=\"1.0\" encoding=\"GB2312\"?>", ""},
    {"html_meta_charset",
     "<!-- page --><html><head><title>t</title>"
     "<meta http-equiv=\"content-type\" content=\"text/html; charset=gb2312\"></head>",
     "gb2312"},
    {"html_meta_charset_spaced", "<html><head><meta content='text/html ;charset = koi8-r' http-equiv='Content-Type'>",
     "koi8-r"},
    {"html_meta_other_http_equiv_passed_over",
     "<html><meta http-equiv=\"refresh\" content=\"charset=big5\"><meta http-equiv=\"Content-Type\" "
     "content=\"text/html; charset=utf-8\">",
     "utf-8"},
    {"html_meta_without_content",
     "<html><meta http-equiv=\"Content-Type\"><meta http-equiv=\"Content-Type\" "
     "content=\"charset=big5\">",
     ""},
    {"html_meta_content_without_charset", "<html><meta http-equiv=\"Content-Type\" content=\"text/html\">", ""},
    {"html_head_end_ends_search", "<html><head></head><meta http-equiv=\"Content-Type\" content=\"charset=big5\">", ""},
    {"empty_text", "", ""},
};

class DeclaredEncodingTest : public testing::TestWithParam<declarationrow> {};

TEST_P(DeclaredEncodingTest, FindsTheNamedEncoding)
{
    EXPECT_EQ(u8(declaredEncoding(u16(GetParam().text).c_str())), GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(Declarations, DeclaredEncodingTest, testing::ValuesIn(declarationrows),
                         [](const testing::TestParamInfo<declarationrow>& info) {
                             return std::string(info.param.label);
                         });

// loadFile and saveFile hand the document's text, results and flags through.
struct roundtriprow {
    const char* label;
    const char* file;
    bool loaded;
    const char* results;
    uint32_t docFlags;
};

std::ostream& operator<<(std::ostream& os, const roundtriprow& row) { return os << row.label; }

const roundtriprow roundtriprows[] = {
    {"big_endian_text_unchanged_by_save", "utf16be_with_mark.xml", true,
     R"(<bom/><read encoding="UTF-16BE" length="21"/><endian_swap/>)", DOC_UTF16BE_BOM},
    {"parse_records_follow_read_records", "html_meta_big5.html", false,
     R"(<read encoding="big5" length="111"/><converted_to encoding="UTF-16" length="109"/>)"
     R"(<unended_start_tag tagname="meta" offset="12" offset2="96"/>)",
     NO_FLAGS},
};

class DocumentFileTest : public testing::TestWithParam<roundtriprow> {};

TEST_P(DocumentFileTest, LoadsIndexesAndSavesBack)
{
    const roundtriprow& row = GetParam();
    xmldoc doc;
    doc.setText(nullptr);
    EXPECT_EQ(doc.loadFile(fixturePath(row.file).c_str()), row.loaded);
    EXPECT_EQ(u8(doc.resultText()), row.results);
    EXPECT_EQ(doc.docFlags, row.docFlags);
    EXPECT_NE(doc.record(0).firstChild, 0);
    EXPECT_EQ(doc.record(0).totalLength, static_cast<int32_t>(doc.text.size()));

    const std::u16string before = doc.text;
    const std::u16string out = scratchPath(std::string(row.label) + ".out");
    EXPECT_TRUE(doc.saveFile(out.c_str()));
    EXPECT_EQ(doc.text, before);
    EXPECT_EQ(doc.docFlags, row.docFlags);
    EXPECT_EQ(fileBytes(out), fileBytes(fixturePath(row.file)));
}

INSTANTIATE_TEST_SUITE_P(Documents, DocumentFileTest, testing::ValuesIn(roundtriprows),
                         [](const testing::TestParamInfo<roundtriprow>& info) {
                             return std::string(info.param.label);
                         });

TEST(DocumentFileFailure, FailedLoadLeavesEmptyTextAndOldIndex)
{
    xmldoc doc;
    doc.setText(nullptr);
    EXPECT_FALSE(doc.loadFile(fixturePath("no_such_file.xml").c_str()));
    EXPECT_TRUE(doc.text.empty());
    EXPECT_EQ(u8(doc.resultText()), R"(<file_error msg="No such file or directory" n="2"/>)");
    EXPECT_EQ(doc.record(0).firstChild, 0);
}

} // namespace
