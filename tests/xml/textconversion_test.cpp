// Text conversion: the component's own UTF-8 and UTF-32 conversions, the
// conversions through the system (iconv natively, the Win32 code pages under
// Wine) for one row per code page family, and the helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>

#include "textconverter.h"

namespace {

// "E2 82 AC" -> the three bytes.
std::string bytesOf(const char* hex)
{
    std::string out;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = hex; *p != 0; ++p) {
        const char c = *p;
        if (c == ' ') continue;
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits == 2) {
            out += static_cast<char>(value);
            value = 0;
            digits = 0;
        }
    }
    return out;
}

std::string hexOf(const void* data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char b = static_cast<const unsigned char*>(data)[i];
        if (i > 0) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string hexOf(const std::string& bytes) { return hexOf(bytes.data(), bytes.size()); }
std::string hexOf(const std::u16string& text) { return hexOf(text.data(), text.size() * 2); }

// An exactly sized heap copy, so that any access past the data is caught.
std::unique_ptr<unsigned char[]> exactCopy(const void* data, size_t size)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

struct conversion {
    int32_t count;
    std::string bytes;
    int32_t lossy;
};

// Measures, then converts into a buffer of exactly the measured size; checks
// that both calls agree and that a buffer one unit short is refused.
conversion convertTwice(const char16_t* from, const void* source, size_t sourceBytes, int32_t sourceUnits,
                        const char16_t* to, size_t targetUnitSize)
{
    std::unique_ptr<unsigned char[]> input = exactCopy(source, sourceBytes);
    textconverter converter(from, input.get(), sourceUnits);
    const int32_t measured = converter.convert(nullptr, to);
    EXPECT_EQ(converter.outUnits, measured);
    conversion result{measured, std::string(), 0};
    if (measured <= 0) return result;
    const size_t size = static_cast<size_t>(measured) * targetUnitSize;
    std::unique_ptr<unsigned char[]> out(new unsigned char[size]);
    result.count = converter.convert(out.get(), nullptr);
    EXPECT_EQ(result.count, measured);
    EXPECT_EQ(converter.outUnits, measured);
    result.bytes.assign(reinterpret_cast<const char*>(out.get()), size);
    result.lossy = converter.lossy;

    std::unique_ptr<unsigned char[]> shortOut(new unsigned char[size - targetUnitSize]);
    converter.outUnits = measured - 1;
    EXPECT_EQ(converter.convert(shortOut.get(), nullptr), 0) << "buffer one unit short";
    return result;
}

// Conversion pairs, by encoding names. Source and result are given as the
// bytes in memory (little-endian units).
struct pairrow {
    const char* label;
    const char16_t* from;
    const char16_t* to;
    const char* sourceHex;
    int32_t sourceUnitSize;
    const char* expectedHex;
    int32_t targetUnitSize;
};

const pairrow pairrows[] = {
    {"utf32_to_utf8", u"UTF-32", u"UTF-8", "41000000 E9000000 AC200000 00F60100", 4, "41 C3A9 E282AC F09F9880", 1},
    {"utf32le_name_to_utf8", u"UTF-32LE", u"utf-8", "48030100", 4, "F0 90 8D 88", 1},
    {"utf32_to_utf16_pairs", u"UTF-32", u"UTF-16", "41000000 00F60100 FFFF1000", 4, "4100 3DD8 00DE FFDB FFDF", 2},
    {"utf32_beyond_unicode_to_utf16", u"UTF-32", u"UTF-16", "00001100 41000000", 4, "3F00 4100", 2},
    {"utf32_beyond_unicode_to_utf8", u"UTF-32", u"UTF-8", "FFFFFFFF", 4, "3F", 1},
    {"utf32_to_code_page_is_not_done", u"UTF-32", u"windows-1252", "41000000", 4, "", 1},
    {"utf16_pair_to_utf32", u"UTF-16", u"UTF-32", "3DD8 00DE", 2, "00F60100", 4},
    {"utf16_lone_high_at_end_to_utf32", u"UTF-16", u"UTF-32", "4100 00D8", 2, "41000000 3F000000", 4},
    {"utf16_high_then_letter_to_utf32", u"UTF-16", u"UTF-32", "00D8 4100", 2, "3F000000 41000000", 4},
    {"utf16_high_then_zero_to_utf32", u"UTF-16", u"UTF-32", "00D8 0000", 2, "3F000000 00000000", 4},
    {"utf16_lone_low_then_pair_to_utf32", u"UTF-16", u"UTF-32", "00DC 3DD8 00DE", 2, "3F000000 00F60100", 4},
    {"utf8_to_utf32", u"UTF-8", u"UTF-32", "41 C3A9 F09F9880", 1, "41000000 E9000000 00F60100", 4},
    {"utf8_invalid_to_utf32", u"UTF-8", u"UTF-32", "C3 41 F8 E282", 1, "3F000000 41000000 3F000000 3F000000", 4},
    {"code_page_to_utf32_is_not_done", u"windows-1252", u"UTF-32", "41", 1, "", 4},
    {"lowercase_utf32_is_a_system_code_page", u"utf-32", u"UTF-16", "41000000", 1, "", 2},
    {"utf16_to_utf16_is_not_a_code_page", u"UTF-16", u"UTF-16", "4100", 2, "", 2},
    {"utf16be_is_not_a_code_page", u"UTF-16BE", u"UTF-16", "0041", 1, "", 2},
};

std::ostream& operator<<(std::ostream& os, const pairrow& row) { return os << row.label; }

class ConversionPairTest : public testing::TestWithParam<pairrow> {};

TEST_P(ConversionPairTest, MeasuresThenConverts)
{
    const pairrow& row = GetParam();
    const std::string source = bytesOf(row.sourceHex);
    const int32_t units = static_cast<int32_t>(source.size()) / row.sourceUnitSize;
    const conversion result =
        convertTwice(row.from, source.data(), source.size(), units, row.to, static_cast<size_t>(row.targetUnitSize));
    const std::string expected = bytesOf(row.expectedHex);
    EXPECT_EQ(result.count, static_cast<int32_t>(expected.size()) / row.targetUnitSize);
    EXPECT_EQ(hexOf(result.bytes), hexOf(expected));
    EXPECT_EQ(result.lossy, 0);
}

INSTANTIATE_TEST_SUITE_P(Pairs, ConversionPairTest, testing::ValuesIn(pairrows),
                         [](const testing::TestParamInfo<pairrow>& info) { return std::string(info.param.label); });

// One row per code page family: the text, its UTF-8 form and its bytes in
// the family's code page, named as a document would name it.
struct familyrow {
    const char* label;
    const char16_t* name;
    const char16_t* text;
    const char* utf8;
    const char* hex;
};

#define FAMILY(label, name, text, hex)                                                                                 \
    {                                                                                                                  \
        label, name, u"" text, u8"" text, hex                                                                          \
    }

const familyrow familyrows[] = {
    FAMILY("cp1252_western", u"x-ansi", "café €", "63 61 66 E9 20 80"),
    FAMILY("cp1250_central_european", u"windows-1250", "Łódź", "A3 F3 64 9F"),
    FAMILY("cp1251_cyrillic", u"CP1251", "Привет", "CF F0 E8 E2 E5 F2"),
    FAMILY("cp1253_greek", u"ms-greek", "Ωμέγα", "D9 EC DD E3 E1"),
    FAMILY("cp1255_hebrew", u"windows-1255", "שלום", "F9 EC E5 ED"),
    FAMILY("cp1256_arabic_trailing_space_name", u"cp1256 ", "سلام", "D3 E1 C7 E3"),
    FAMILY("cp874_thai", u"TIS-620", "ไทย", "E4 B7 C2"),
    FAMILY("cp932_japanese", u"Shift_JIS", "日本", "93 FA 96 7B"),
    FAMILY("cp936_simplified_chinese", u"GB2312", "中文", "D6 D0 CE C4"),
    FAMILY("cp949_korean", u"ks_c_5601-1987", "한국", "C7 D1 B1 B9"),
    FAMILY("cp950_traditional_chinese", u"Big5", "中文", "A4 A4 A4 E5"),
    FAMILY("cp437_dos", u"IBM437", "é", "82"),
    FAMILY("cp866_dos_cyrillic", u"cp866", "Да", "84 A0"),
    FAMILY("koi8r", u"KOI8-R", "мир", "CD C9 D2"),
    FAMILY("koi8u", u"koi8-u", "ї", "A7"),
    FAMILY("iso8859_1", u"ISO-8859-1", "é¿", "E9 BF"),
    FAMILY("iso8859_5", u"iso-8859-5", "Ж", "B6"),
    FAMILY("iso8859_15", u"latin-9", "€", "A4"),
    FAMILY("us_ascii", u"US-ASCII", "abc", "61 62 63"),
    FAMILY("euc_jp", u"euc-jp", "日本", "C6 FC CB DC"),
#ifndef _WIN32
    // Wine's code page set lacks these three; the native build checks them against iconv.
    FAMILY("euc_kr", u"EUC-KR", "한", "C7 D1"),
    FAMILY("gb18030", u"GB18030", "中€", "D6 D0 A2 E3"),
    FAMILY("iso2022_jp", u"iso-2022-jp", "日本", "1B 24 42 46 7C 4B 5C 1B 28 42"),
#endif
    FAMILY("macintosh", u"macintosh", "é", "8E"),
    FAMILY("utf7", u"utf-7", "é", "2B 41 4F 6B 2D"),
    FAMILY("utf8", u"UTF-8", "€😀", "E2 82 AC F0 9F 98 80"),
};

#undef FAMILY

std::ostream& operator<<(std::ostream& os, const familyrow& row) { return os << row.label; }

class CodePageFamilyTest : public testing::TestWithParam<familyrow> {};

TEST_P(CodePageFamilyTest, EncodesText)
{
    const familyrow& row = GetParam();
    const std::u16string text = row.text;
    const conversion result =
        convertTwice(u"UTF-16", text.data(), text.size() * 2, static_cast<int32_t>(text.size()), row.name, 1);
    EXPECT_EQ(hexOf(result.bytes), hexOf(bytesOf(row.hex)));
    EXPECT_EQ(result.lossy, 0);
}

TEST_P(CodePageFamilyTest, DecodesBytes)
{
    const familyrow& row = GetParam();
    const std::string bytes = bytesOf(row.hex);
    const conversion result =
        convertTwice(row.name, bytes.data(), bytes.size(), static_cast<int32_t>(bytes.size()), u"UTF-16", 2);
    EXPECT_EQ(hexOf(result.bytes), hexOf(std::u16string(row.text)));
}

TEST_P(CodePageFamilyTest, TranscodesToUtf8)
{
    const familyrow& row = GetParam();
    const std::string bytes = bytesOf(row.hex);
    const conversion result =
        convertTwice(row.name, bytes.data(), bytes.size(), static_cast<int32_t>(bytes.size()), u"UTF-8", 1);
    EXPECT_EQ(hexOf(result.bytes), hexOf(std::string(row.utf8)));
}

INSTANTIATE_TEST_SUITE_P(Families, CodePageFamilyTest, testing::ValuesIn(familyrows),
                         [](const testing::TestParamInfo<familyrow>& info) { return std::string(info.param.label); });

// Characters the target cannot hold, and whether the loss is reported.
struct lossrow {
    const char* label;
    const char16_t* to;
    const char16_t* text;
    const char* expectedHex;
    int32_t lossy;
};

const lossrow lossrows[] = {
    {"cjk_into_cp1252", u"windows-1252", u"a\u4E2D", "61 3F", 1},
    {"thai_into_gbk", u"GBK", u"\u0E44b", "3F 62", 1},
    {"cyrillic_into_latin1", u"iso-8859-1", u"\u0416", "3F", 1},
    {"lone_surrogate_into_utf8_never_reported", u"UTF-8",
     u"a\xD800"
     u"b",
     "61 EF BF BD 62", 0},
};

std::ostream& operator<<(std::ostream& os, const lossrow& row) { return os << row.label; }

class ConversionLossTest : public testing::TestWithParam<lossrow> {};

TEST_P(ConversionLossTest, ReportsDefaultCharacter)
{
    const lossrow& row = GetParam();
    const std::u16string text = row.text;
    const conversion result =
        convertTwice(u"UTF-16", text.data(), text.size() * 2, static_cast<int32_t>(text.size()), row.to, 1);
    EXPECT_EQ(hexOf(result.bytes), hexOf(bytesOf(row.expectedHex)));
    EXPECT_EQ(result.lossy, row.lossy);
}

INSTANTIATE_TEST_SUITE_P(Loss, ConversionLossTest, testing::ValuesIn(lossrows),
                         [](const testing::TestParamInfo<lossrow>& info) { return std::string(info.param.label); });

// Every name that does not resolve converts as the ANSI code page does.
struct ansirow {
    const char* label;
    const char16_t* name;
};

const ansirow ansirows[] = {
    {"ansi", u"ANSI"},
    {"unknown_name", u"x-no-such-charset"},
    {"non_ascii_name", u"\u0130so-8859-1"},
};

std::ostream& operator<<(std::ostream& os, const ansirow& row) { return os << row.label; }

class AnsiFallbackTest : public testing::TestWithParam<ansirow> {};

TEST_P(AnsiFallbackTest, ConvertsLikeTheEmptyName)
{
    const std::u16string text = u"caf\u00E9 <a/>";
    const conversion ansi =
        convertTwice(u"UTF-16", text.data(), text.size() * 2, static_cast<int32_t>(text.size()), u"", 1);
    const conversion named =
        convertTwice(u"UTF-16", text.data(), text.size() * 2, static_cast<int32_t>(text.size()), GetParam().name, 1);
    EXPECT_GT(ansi.count, 0);
    EXPECT_EQ(hexOf(named.bytes), hexOf(ansi.bytes));
}

INSTANTIATE_TEST_SUITE_P(Names, AnsiFallbackTest, testing::ValuesIn(ansirows),
                         [](const testing::TestParamInfo<ansirow>& info) { return std::string(info.param.label); });

// Source counts that are not positive never reach the system, which would
// otherwise read up to a zero byte.
struct emptysourcerow {
    const char* label;
    const char16_t* from;
    const char16_t* to;
    int32_t sourceUnits;
};

const emptysourcerow emptysourcerows[] = {
    {"utf16_to_code_page_zero_units", u"UTF-16", u"windows-1252", 0},
    {"utf16_to_code_page_negative_units", u"UTF-16", u"windows-1252", -1},
    {"code_page_to_utf16_negative_units", u"UTF-8", u"UTF-16", -1},
    {"code_page_to_code_page_negative_units", u"UTF-8", u"GBK", -1},
    {"utf8_to_utf32_negative_units", u"UTF-8", u"UTF-32", -1},
    {"utf32_to_utf16_negative_units", u"UTF-32", u"UTF-16", -1},
};

std::ostream& operator<<(std::ostream& os, const emptysourcerow& row) { return os << row.label; }

class EmptySourceTest : public testing::TestWithParam<emptysourcerow> {};

TEST_P(EmptySourceTest, YieldsNothing)
{
    const emptysourcerow& row = GetParam();
    // Not zero-terminated, so a system call told "up to the terminator" would run off the end.
    std::unique_ptr<unsigned char[]> source = exactCopy("AAAA", 4);
    textconverter converter(row.from, source.get(), row.sourceUnits);
    converter.outUnits = 7;
    EXPECT_EQ(converter.convert(nullptr, row.to), 0);
    EXPECT_EQ(converter.outUnits, 0);
}

INSTANTIATE_TEST_SUITE_P(Counts, EmptySourceTest, testing::ValuesIn(emptysourcerows),
                         [](const testing::TestParamInfo<emptysourcerow>& info) {
                             return std::string(info.param.label);
                         });

struct encoderow {
    const char* label;
    uint32_t codePoint;
    const char* hex;
};

const encoderow encoderows[] = {
    {"ascii", 0x41, "41"},
    {"last_one_byte", 0x7F, "7F"},
    {"first_two_byte", 0x80, "C2 80"},
    {"e_acute", 0xE9, "C3 A9"},
    {"last_two_byte", 0x7FF, "DF BF"},
    {"first_three_byte", 0x800, "E0 A0 80"},
    {"euro", 0x20AC, "E2 82 AC"},
    {"last_three_byte", 0xFFFF, "EF BF BF"},
    {"gothic_ahsa", 0x10348, "F0 90 8D 88"},
    {"last_unicode", 0x10FFFF, "F4 8F BF BF"},
};

std::ostream& operator<<(std::ostream& os, const encoderow& row) { return os << row.label; }

class EncodeUtf8Test : public testing::TestWithParam<encoderow> {};

TEST_P(EncodeUtf8Test, AppendsAtCount)
{
    const encoderow& row = GetParam();
    const std::string expected = bytesOf(row.hex);
    const int32_t prefix = 2;
    std::unique_ptr<unsigned char[]> out(new unsigned char[prefix + expected.size()]);
    out[0] = 'x';
    out[1] = 'y';
    int32_t count = prefix;
    encodeUtf8(row.codePoint, out.get(), count);
    EXPECT_EQ(count, prefix + static_cast<int32_t>(expected.size()));
    EXPECT_EQ(hexOf(out.get(), static_cast<size_t>(count)), hexOf("xy" + expected));

    int32_t measured = 5;
    encodeUtf8(row.codePoint, nullptr, measured);
    EXPECT_EQ(measured, 5 + static_cast<int32_t>(expected.size()));
}

INSTANTIATE_TEST_SUITE_P(CodePoints, EncodeUtf8Test, testing::ValuesIn(encoderows),
                         [](const testing::TestParamInfo<encoderow>& info) { return std::string(info.param.label); });

struct decoderow {
    const char* label;
    const char* hex;
    int32_t expected;
    int32_t consumed;
};

const decoderow decoderows[] = {
    {"ascii", "41 42", 0x41, 1},
    {"two_bytes", "C3 A9", 0xE9, 2},
    {"three_bytes", "E2 82 AC", 0x20AC, 3},
    {"four_bytes", "F0 9F 98 80", 0x1F600, 4},
    {"ascii_inside_sequence_not_consumed", "C3 41", -1, 1},
    {"cut_off_at_end", "E2 82", -1, 2},
    {"fifth_lead_class", "F8 80 80 80", -1, 1},
    {"stray_continuation_read_as_lead", "80 80", 0, 2},
    {"high_continuation_is_invalid_lead", "BF 80", -1, 1},
    {"overlong_not_rejected", "C0 80", 0, 2},
    {"surrogate_not_rejected", "ED A0 80", 0xD800, 3},
    {"nothing_left", "", -1, 0},
};

std::ostream& operator<<(std::ostream& os, const decoderow& row) { return os << row.label; }

class DecodeUtf8Test : public testing::TestWithParam<decoderow> {};

TEST_P(DecodeUtf8Test, DecodesOneSequence)
{
    const decoderow& row = GetParam();
    const std::string bytes = bytesOf(row.hex);
    std::unique_ptr<unsigned char[]> input = exactCopy(bytes.data(), bytes.size());
    const unsigned char* cursor = input.get();
    EXPECT_EQ(decodeUtf8(cursor, input.get() + bytes.size()), row.expected);
    EXPECT_EQ(cursor - input.get(), row.consumed);
}

INSTANTIATE_TEST_SUITE_P(Sequences, DecodeUtf8Test, testing::ValuesIn(decoderows),
                         [](const testing::TestParamInfo<decoderow>& info) { return std::string(info.param.label); });

struct checkrow {
    const char* label;
    const char* hex;
    int32_t length; // -1: all the bytes
    bool expected;
};

const checkrow checkrows[] = {
    {"ascii", "3C 61 2F 3E", -1, true},
    {"mixed_valid", "3C C3 A9 E2 82 AC F0 9F 98 80", -1, true},
    {"empty", "", -1, true},
    {"lone_lead_at_end", "41 C3", -1, false},
    {"ascii_after_lead", "C3 41", -1, false},
    {"fifth_lead_class", "F8 80 80 80 80", -1, false},
    {"four_byte_cut_off", "F0 9F 98", -1, false},
    {"length_cuts_sequence", "C3 A9", 1, false},
    {"zero_ends_walk", "41 00 FF FE", -1, true},
    {"zero_inside_sequence", "C3 00 A9", -1, false},
    {"latin1_text", "63 61 66 E9 20 3C", -1, false},
};

std::ostream& operator<<(std::ostream& os, const checkrow& row) { return os << row.label; }

class CheckUtf8Test : public testing::TestWithParam<checkrow> {};

TEST_P(CheckUtf8Test, AcceptsOnlyUtf8)
{
    const checkrow& row = GetParam();
    const std::string bytes = bytesOf(row.hex);
    std::unique_ptr<unsigned char[]> input = exactCopy(bytes.data(), bytes.size());
    const int32_t length = row.length < 0 ? static_cast<int32_t>(bytes.size()) : row.length;
    EXPECT_EQ(checkUtf8(input.get(), length), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, CheckUtf8Test, testing::ValuesIn(checkrows),
                         [](const testing::TestParamInfo<checkrow>& info) { return std::string(info.param.label); });

struct swaprow {
    const char* label;
    const char16_t* units;
    int32_t count;
    const char16_t* expected;
};

const swaprow swaprows[] = {
    {"all_units", u"\x1234\x00FF\xFE00", 3, u"\x3412\xFF00\x00FE"},
    {"first_units_only", u"\x1234\x5678", 1, u"\x3412\x5678"},
    {"none", u"\xABCD", 0, u"\xABCD"},
};

std::ostream& operator<<(std::ostream& os, const swaprow& row) { return os << row.label; }

class SwapUnitBytesTest : public testing::TestWithParam<swaprow> {};

TEST_P(SwapUnitBytesTest, SwapsCountUnits)
{
    const swaprow& row = GetParam();
    std::u16string units = row.units;
    swapUnitBytes(&units[0], row.count);
    EXPECT_EQ(hexOf(units), hexOf(std::u16string(row.expected)));
}

INSTANTIATE_TEST_SUITE_P(Units, SwapUnitBytesTest, testing::ValuesIn(swaprows),
                         [](const testing::TestParamInfo<swaprow>& info) { return std::string(info.param.label); });

struct lossreportrow {
    int32_t codePage;
    bool expected;
};

const lossreportrow lossreportrows[] = {
    {50220, true},  {50221, true},  {50222, true},  {50225, true}, {50227, true},  {50229, true},
    {52936, true},  {54936, true},  {57002, true},  {57006, true}, {57011, true},  {65000, true},
    {65001, true},  {0, false},     {1252, false},  {936, false},  {50226, false}, {50228, false},
    {57001, false}, {57012, false}, {65005, false}, {1200, false},
};

std::ostream& operator<<(std::ostream& os, const lossreportrow& row) { return os << "cp" << row.codePage; }

class CannotReportLossTest : public testing::TestWithParam<lossreportrow> {};

TEST_P(CannotReportLossTest, KnowsCodePagesWithoutLossReport)
{
    EXPECT_EQ(cannotReportLoss(GetParam().codePage), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(CodePages, CannotReportLossTest, testing::ValuesIn(lossreportrows),
                         [](const testing::TestParamInfo<lossreportrow>& info) {
                             return "cp" + std::to_string(info.param.codePage);
                         });

} // namespace
