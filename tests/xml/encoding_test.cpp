// Encoding names: every name of the published list, the stored table's form
// and bucket rule, and the lookup's edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "encodingtable.h"

namespace {

std::u16string widen(const char* ascii)
{
    std::u16string out;
    for (; *ascii != 0; ++ascii) out += static_cast<char16_t>(static_cast<unsigned char>(*ascii));
    return out;
}

std::string narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

uint32_t unitSum(const std::u16string& name)
{
    uint32_t sum = 0;
    for (char16_t unit : name) sum += unit;
    return sum;
}

struct tableentry {
    std::u16string name;
    int32_t codePage;
};

// Reads one bucket in its stored form; a malformed entry fails the test.
std::vector<tableentry> readBucket(int32_t bucket)
{
    std::vector<tableentry> entries;
    const char16_t* cursor = encodingtable[bucket];
    while (*cursor != 0) {
        for (int32_t d = 0; d < 7; ++d) {
            EXPECT_TRUE(cursor[d] >= u'0' && cursor[d] <= u'9')
                << "bucket " << bucket << " entry " << entries.size() << " digit " << d;
            if (cursor[d] < u'0' || cursor[d] > u'9') return entries;
        }
        const int32_t length = (cursor[0] - u'0') * 10 + (cursor[1] - u'0');
        int32_t codePage = 0;
        for (int32_t d = 2; d < 7; ++d) codePage = codePage * 10 + (cursor[d] - u'0');
        std::u16string name(cursor + 7, static_cast<size_t>(length));
        EXPECT_EQ(name.find(char16_t(0)), std::u16string::npos) << "bucket " << bucket;
        entries.push_back({name, codePage});
        cursor += 7 + name.size();
        if (name.size() != static_cast<size_t>(length)) break;
    }
    return entries;
}

// The complete list of names by code page, transcribed as published.
struct listrow {
    int32_t codePage;
    const char* names[17];
};

const listrow namelist[] = {
    {154, {"cp154", "csptcp154", "cyrillic-asian", "pt154", "ptcp154"}},
    {437, {"codepage437", "cp437", "cspc8", "cspc8codepage437", "ibm437"}},
    {708, {"asmo-708"}},
    {720, {"dos-720"}},
    {737, {"cp737", "ibm737"}},
    {775, {"cp500", "cp775", "csibm500", "cspc775baltic", "ebcdic-cp-be", "ebcdic-cp-ch", "ibm775"}},
    {850, {"cp850", "cspc850multilingual", "ibm850"}},
    {852, {"cp852", "cspcp852", "ibm852"}},
    {853, {"cp853"}},
    {855, {"cp855", "csibm855", "ibm855"}},
    {857, {"cp857", "csibm857", "ibm857"}},
    {858, {"ccsid00858", "cp00858", "cp858", "ibm00858", "pc-multilingual-850+euro"}},
    {860, {"cp860", "csibm860", "ibm860"}},
    {861, {"cp-is", "cp861", "csibm861", "ibm861"}},
    {862, {"cp862", "cspc862latinhebrew", "dos-862", "ibm862"}},
    {863, {"cp863", "csibm863", "ibm863"}},
    {864, {"cp864", "csibm864", "ibm864"}},
    {865, {"cp865", "csibm865", "ibm865"}},
    {866, {"cp866", "csibm866", "ibm866"}},
    {869, {"cp-gr", "cp869", "csibm869", "ibm869"}},
    {874, {"cp874", "dos-874", "iso-8859-11", "tis-620", "windows-874"}},
    {932,
     {"cp932", "csshiftjis", "cswindows31j", "ms932", "ms_kanji", "shifft_jis", "shifft_jis-ms", "shift-jis",
      "shift_jis", "sjis", "sjis-ms", "sjis-open", "sjis-win", "windows-31j", "windows-932", "x-ms-cp932", "x-sjis"}},
    {936,
     {"chinese", "cn-gb", "cp936", "csgb2312", "csgb231280", "csiso58gb231280", "gb2312", "gb2312-80", "gb231280",
      "gb_2312-80", "gbk", "iso-ir-58", "ms936", "windows-936"}},
    {949,
     {"cp949", "csksc56011987", "iso-ir-149", "korean", "ks-c-5601", "ks-c5601", "ks_c_5601", "ks_c_5601-1987",
      "ks_c_5601-1989", "ks_c_5601_1987", "ksc5601", "ksc_5601", "uhc"}},
    {950, {"big5", "big5-hkscs", "cn-big5", "cp950", "csbig5", "x-x-big5"}},
    {1125, {"cp1125"}},
    {1133, {"cp1133", "ibm-cp1133"}},
    {1200, {"cp1200", "ucs-2", "ucs-2le", "unicode", "utf-16", "utf-16le", "utf16", "utf16le"}},
    {1201, {"cp1201", "ucs-2be", "unicodefffe", "utf-16be", "utf16be"}},
    {1250, {"cp1250", "ms-ee", "windows-1250", "x-cp1250"}},
    {1251, {"cp1251", "ms-cyrl", "windows-1251", "x-cp1251"}},
    {1252, {"cp1252", "ms-ansi", "windows-1252", "x-ansi"}},
    {1253, {"cp1253", "ms-greek", "windows-1253"}},
    {1254, {"cp1254", "ms-turk", "windows-1254"}},
    {1255, {"cp1255", "ms-hebr", "windows-1255"}},
    {1256, {"cp1256", "cp1256 ", "ms-arab", "windows-1256"}},
    {1257, {"cp1257", "winbaltrim", "windows-1257"}},
    {1258, {"cp1258", "windows-1258"}},
    {1361, {"cp1361", "johab"}},
    {10000, {"csmacintosh", "mac", "macintosh"}},
    {10001, {"x-mac-japanese"}},
    {10002, {"x-mac-chinesetrad"}},
    {10003, {"x-mac-korean"}},
    {10004, {"x-mac-arabic"}},
    {10005, {"x-mac-hebrew"}},
    {10006, {"x-mac-greek"}},
    {10007, {"x-mac-cyrillic"}},
    {10008, {"x-mac-chinesesimp"}},
    {10010, {"x-mac-romanian"}},
    {10017, {"x-mac-ukrainian"}},
    {10021, {"x-mac-thai"}},
    {10029, {"x-mac-ce"}},
    {10079, {"x-mac-icelandic"}},
    {10081, {"x-mac-turkish"}},
    {10082, {"x-mac-croatian"}},
    {12000, {"cp12000", "utf-32", "utf-32le", "utf32", "utf32le"}},
    {12001, {"cp12001", "utf-32be", "utf32be"}},
    {20000, {"x-chinese-cns", "x-chinese_cns"}},
    {20001, {"x-cp20001"}},
    {20002, {"x-chinese-eten", "x_chinese-eten"}},
    {20003, {"x-cp20003"}},
    {20004, {"x-cp20004"}},
    {20005, {"x-cp20005"}},
    {20105, {"x-ia5"}},
    {20106, {"x-ia5-german"}},
    {20107, {"x-ia5-swedish"}},
    {20108, {"x-ia5-norwegian"}},
    {20127,
     {"ansi_x3.4-1968", "ansi_x3.4-1986", "ascii", "cp367", "csascii", "ibm367", "iso-ir-6", "iso-ir-6us", "iso646-us",
      "iso_646.irv:1991", "us", "us-ascii"}},
    {20261, {"x-cp20261"}},
    {20269, {"x-cp20269"}},
    {20866, {"cskoi8r", "koi", "koi8", "koi8-r", "koi8r"}},
    {20932, {"cseucpkdfmtjapanese", "euc-jp", "extended_unix_code_packed_format_for_japanese"}},
    {20936, {"x-cp20936"}},
    {20949, {"x-cp20949"}},
    {21866, {"koi8-ru", "koi8-u"}},
    {28591,
     {"cp819", "csisolatin1", "ibm819", "iso-8859-1", "iso-ir-100", "iso8859-1", "iso_8859-1", "iso_8859-1:1987", "l1",
      "latin1"}},
    {28592, {"csisolatin2", "iso-8859-2", "iso-ir-101", "iso8859-2", "iso_8859-2", "iso_8859-2:1987", "l2", "latin2"}},
    {28593, {"csisolatin3", "iso-8859-3", "iso-ir-109", "iso8859-3", "iso_8859-3", "iso_8859-3:1988", "l3", "latin3"}},
    {28594, {"csisolatin4", "iso-8859-4", "iso-ir-110", "iso8859-4", "iso_8859-4", "iso_8859-4:1988", "l4", "latin4"}},
    {28595,
     {"csisolatin5", "csisolatincyrillic", "cyrillic", "iso-8859-5", "iso-ir-144", "iso8859-5", "iso_8859-5",
      "iso_8859-5:1988"}},
    {28596,
     {"arabic", "csisolatinarabic", "ecma-114", "iso-8859-6", "iso-ir-127", "iso8859-6", "iso_8859-6",
      "iso_8859-6:1987"}},
    {28597,
     {"csisolatingreek", "ecma-118", "elot_928", "greek", "greek8", "iso-8859-7", "iso-ir-126", "iso8859-7",
      "iso_8859-7", "iso_8859-7:1987"}},
    {28598,
     {"csisolatinhebrew", "hebrew", "iso-8859-8", "iso-ir-138", "iso8859-8", "iso_8859-8", "iso_8859-8:1988",
      "visual"}},
    {28599, {"iso-8859-9", "iso-ir-148", "iso8859-9", "iso_8859-9", "iso_8859-9:1989", "l5", "latin5"}},
    {28603, {"iso-8859-13", "iso8859-13"}},
    {28605, {"iso-8859-15", "iso8859-15", "iso_8859-15", "l9", "latin-9", "latin9"}},
    {29001, {"x-europa"}},
    {38598, {"iso-8859-8-i", "iso8859-8-i", "logical"}},
    {50220, {"iso-2022-jp"}},
    {50221, {"_iso-2022-jp", "cp50221", "csiso2022jp", "iso-2022-jp-ms", "iso2022-jp-ms", "ms50221", "windows-50221"}},
    {50222, {"_iso-2022-jp$sio"}},
    {50225, {"csiso2022kr", "iso-2022-kr", "iso2022-kr"}},
    {50227, {"x-cp50227"}},
    {51932, {"cp51932", "ms51932", "windows-51932", "x-euc", "x-euc-jp"}},
    {51936, {"euc-cn", "x-euc-cn"}},
    {51949, {"cseuckr", "euc-kr"}},
    {52936, {"hz-gb-2312"}},
    {54936, {"gb18030", "iso-4873:1986"}},
    {57002, {"x-iscii-de"}},
    {57003, {"x-iscii-be"}},
    {57004, {"x-iscii-ta"}},
    {57005, {"x-iscii-te"}},
    {57006, {"x-iscii-as"}},
    {57007, {"x-iscii-or"}},
    {57008, {"x-iscii-ka"}},
    {57009, {"x-iscii-ma"}},
    {57010, {"x-iscii-gu"}},
    {57011, {"x-iscii-pa"}},
    {65000, {"csunicode11utf7", "unicode-1-1-utf-7", "utf-7", "x-unicode-2-0-utf-7"}},
    {65001, {"cp65001", "unicode-1-1-utf-8", "unicode-2-0-utf-8", "utf-8", "utf8", "x-unicode-2-0-utf-8"}},
};

std::ostream& operator<<(std::ostream& os, const listrow& row) { return os << "code page " << row.codePage; }

std::string listRowName(const testing::TestParamInfo<listrow>& info)
{
    return "cp" + std::to_string(info.param.codePage);
}

class EncodingListTest : public testing::TestWithParam<listrow> {};

TEST_P(EncodingListTest, EveryNameResolvesInAnyAsciiCase)
{
    const listrow& row = GetParam();
    for (const char* name : row.names) {
        if (name == nullptr) break;
        const std::u16string lower = widen(name);
        EXPECT_EQ(codePageOf(lower.c_str()), row.codePage) << name;
        std::u16string upper = lower;
        for (char16_t& unit : upper) {
            if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 0x20);
        }
        const int32_t upperExpected = upper.compare(0, 6, u"UTF-32") == 0 ? CODEPAGE_UTF32_MEMORY : row.codePage;
        EXPECT_EQ(codePageOf(upper.c_str()), upperExpected) << narrow(upper);
    }
}

TEST_P(EncodingListTest, EveryNameIsStoredInItsBucket)
{
    const listrow& row = GetParam();
    for (const char* name : row.names) {
        if (name == nullptr) break;
        const std::u16string wide = widen(name);
        const int32_t bucket = static_cast<int32_t>(unitSum(wide) % ENCODING_BUCKETS);
        int32_t found = 0;
        for (const tableentry& entry : readBucket(bucket)) {
            if (entry.name == wide) {
                EXPECT_EQ(entry.codePage, row.codePage) << name;
                ++found;
            }
        }
        EXPECT_EQ(found, 1) << name << " in bucket " << bucket;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodePages, EncodingListTest, testing::ValuesIn(namelist), listRowName);

TEST(EncodingTable, HoldsExactlyTheListedNamesInTheirBuckets)
{
    std::set<std::pair<std::u16string, int32_t>> listed;
    for (const listrow& row : namelist) {
        for (const char* name : row.names) {
            if (name != nullptr) listed.insert({widen(name), row.codePage});
        }
    }
    ASSERT_EQ(listed.size(), 365u);
    ASSERT_EQ(sizeof namelist / sizeof namelist[0], 110u);

    std::set<std::pair<std::u16string, int32_t>> stored;
    std::set<std::u16string> storedNames;
    std::set<int32_t> codePages;
    int32_t emptyBuckets = 0;
    size_t largestBucket = 0;
    for (int32_t bucket = 0; bucket < ENCODING_BUCKETS; ++bucket) {
        const std::vector<tableentry> entries = readBucket(bucket);
        if (entries.empty()) ++emptyBuckets;
        largestBucket = std::max(largestBucket, entries.size());
        for (const tableentry& entry : entries) {
            const std::string shown = narrow(entry.name);
            EXPECT_EQ(static_cast<int32_t>(unitSum(entry.name) % ENCODING_BUCKETS), bucket) << shown;
            EXPECT_GE(entry.name.size(), 2u) << shown;
            EXPECT_LE(entry.name.size(), 45u) << shown;
            for (char16_t unit : entry.name) {
                const bool allowed = (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') ||
                                     std::u16string(u"-_.:+$ ").find(unit) != std::u16string::npos;
                EXPECT_TRUE(allowed) << shown;
            }
            EXPECT_TRUE(storedNames.insert(entry.name).second) << "twice: " << shown;
            stored.insert({entry.name, entry.codePage});
            codePages.insert(entry.codePage);
        }
    }
    EXPECT_EQ(stored, listed);
    EXPECT_EQ(codePages.size(), 110u);
    EXPECT_EQ(emptyBuckets, 17);
    EXPECT_LE(largestBucket, 6u);
}

// Edge cases of the lookup. A row's name is padded with pad up to padTo units.
struct lookuprow {
    const char* label;
    const char16_t* name;
    int32_t padTo;
    char16_t pad;
    int32_t expected;
};

const lookuprow lookuprows[] = {
    {"empty_name_is_ansi", u"", 0, 0, 0},
    {"ansi_is_unknown", u"ANSI", 0, 0, -1},
    {"utf8_upper", u"UTF-8", 0, 0, 65001},
    {"utf8_mixed", u"Utf-8", 0, 0, 65001},
    {"utf8_without_dash", u"UTF8", 0, 0, 65001},
    {"utf16_le_default", u"UTF-16", 0, 0, 1200},
    {"utf16be", u"UTF-16BE", 0, 0, 1201},
    {"utf32_exact_case", u"UTF-32", 0, 0, 65005},
    {"utf32be_exact_case", u"UTF-32BE", 0, 0, 65005},
    {"utf32le_exact_case", u"UTF-32LE", 0, 0, 65005},
    {"utf32_prefix_of_unknown_name", u"UTF-32-whatever", 0, 0, 65005},
    {"utf32_lower", u"utf-32", 0, 0, 12000},
    {"utf32_mixed", u"Utf-32", 0, 0, 12000},
    {"utf32be_lower", u"utf-32be", 0, 0, 12001},
    {"utf3_short_of_prefix", u"UTF-3", 0, 0, -1},
    {"big5_mixed", u"Big5", 0, 0, 950},
    {"shift_jis_mixed", u"Shift_JIS", 0, 0, 932},
    {"double_f_shift_jis", u"SHIFFT_JIS", 0, 0, 932},
    {"cp500_is_775", u"cp500", 0, 0, 775},
    {"cp1256", u"cp1256", 0, 0, 1256},
    {"cp1256_one_trailing_space", u"cp1256 ", 0, 0, 1256},
    {"cp1256_two_trailing_spaces", u"cp1256  ", 0, 0, -1},
    {"leading_space", u" cp1256", 0, 0, -1},
    {"units_99", u"utf-8", 99, u' ', -1},
    {"units_100", u"utf-8", 100, u' ', -1},
    {"units_1000", u"x", 1000, u'Z', -1},
    {"units_100_utf32_prefix_first", u"UTF-32", 100, u'x', 65005},
    {"units_100_lower_utf32", u"utf-32", 100, u'x', -1},
    {"non_ascii_dotted_capital_i", u"\u0130so-8859-1", 0, 0, -1},
    {"non_ascii_fullwidth", u"\uFF27\uFF22\uFF2B", 0, 0, -1},
    {"non_ascii_kelvin_sign", u"\u212Aoi8-r", 0, 0, -1},
};

std::ostream& operator<<(std::ostream& os, const lookuprow& row) { return os << row.label; }

class CodePageLookupTest : public testing::TestWithParam<lookuprow> {};

TEST_P(CodePageLookupTest, ResolvesName)
{
    const lookuprow& row = GetParam();
    std::u16string name = row.name;
    if (row.padTo > 0) name.resize(static_cast<size_t>(row.padTo), row.pad);
    // Held in an exactly sized heap block so that a read past the terminator is caught.
    std::unique_ptr<char16_t[]> exact(new char16_t[name.size() + 1]);
    std::copy(name.begin(), name.end(), exact.get());
    exact[name.size()] = 0;
    EXPECT_EQ(codePageOf(exact.get()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, CodePageLookupTest, testing::ValuesIn(lookuprows),
                         [](const testing::TestParamInfo<lookuprow>& info) { return std::string(info.param.label); });

} // namespace
