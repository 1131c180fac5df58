#include "packagetrailer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = (unsigned char)(v >> (8 * i));
}

// A program image with a minimal PE32 header whose security directory entry
// can be set later.
Bytes stubimage(size_t size)
{
    Bytes b(size, 0x90);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3c, 0x80);
    memcpy(&b[0x80], "PE\0\0", 4);
    b[0x80 + 4 + 16] = 224; // size of the optional header
    b[0x80 + 24] = 0x0b;    // PE32 magic 0x10b
    b[0x80 + 25] = 0x01;
    put32(b, 0x80 + 24 + 92, 16); // number of data directory entries
    return b;
}

void setsecuritydirectory(Bytes& b, uint32_t offset, uint32_t size)
{
    put32(b, 0x80 + 24 + 96 + 4 * 8, offset);
    put32(b, 0x80 + 24 + 96 + 4 * 8 + 4, size);
}

PackageTrailer sampletrailer(uint32_t a, uint32_t b)
{
    PackageTrailer t;
    t.offsetA = a;
    t.offsetB = b;
    memset(t.digestA, 'a', 32);
    memset(t.digestB, 'b', 32);
    t.digestA[0] = '1';
    t.digestB[31] = '2';
    return t;
}

void append(Bytes& b, const PackageTrailer& t)
{
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(t, bytes);
    b.insert(b.end(), bytes, bytes + TRAILER_SIZE);
}

// A package: stub of 1000 bytes, archive A of 300, archive B of 22, trailer.
Bytes samplepackage()
{
    Bytes b = stubimage(1000);
    b.insert(b.end(), 300, 'A');
    b.insert(b.end(), 22, 'B');
    append(b, sampletrailer(1000, 1300));
    return b;
}

struct Found {
    int32_t t;
    PackageTrailer trailer;
    std::string output;
};

Found find(const Bytes& bytes)
{
    FILE* f = tmpfile();
    EXPECT_NE(f, nullptr);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fflush(f);
    Found found{};
    testing::internal::CaptureStdout();
    found.t = findtrailer(f, found.trailer);
    found.output = testing::internal::GetCapturedStdout();
    fclose(f);
    return found;
}

TEST(PackageTrailer, EncodesFieldsInOrder)
{
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(sampletrailer(0x01020304, 0x0a0b0c0d), bytes);
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[4], '1');
    EXPECT_EQ(bytes[36], 0x0d);
    EXPECT_EQ(bytes[71], '2');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes + 72)), "<----end");
    EXPECT_EQ(bytes[80], 0);
    PackageTrailer back;
    ASSERT_TRUE(decodetrailer(bytes, back));
    EXPECT_EQ(back.offsetA, 0x01020304u);
    EXPECT_EQ(back.offsetB, 0x0a0b0c0du);
    EXPECT_EQ(std::string(back.digestA, 32), std::string(sampletrailer(0, 0).digestA, 32));
}

struct SearchRow {
    const char* name;
    size_t appended;     // bytes after the trailer
    bool candidateAfter; // a "<----end" not followed by a zero byte among them
    int expectedD;
};

std::ostream& operator<<(std::ostream& os, const SearchRow& row) { return os << row.name; }

const SearchRow searchRows[] = {
    {"nothing_after", 0, false, -9},
    {"one_byte_after", 1, false, -10},
    {"many_bytes_after", 5000, false, -5009},
    {"candidate_without_zero_after", 40, true, -49},
};

class TrailerSearch : public testing::TestWithParam<SearchRow> {};

TEST_P(TrailerSearch, FindsTheTrailerNearestTheEnd)
{
    const SearchRow& row = GetParam();
    Bytes b = samplepackage();
    size_t t = b.size() - TRAILER_SIZE;
    Bytes extra(row.appended, 'x');
    if (row.candidateAfter) {
        memcpy(&extra[10], "<----end", 8);
        extra[18] = '!';
    }
    b.insert(b.end(), extra.begin(), extra.end());
    Found found = find(b);
    EXPECT_EQ(found.t, int32_t(t));
    EXPECT_EQ(found.trailer.offsetA, 1000u);
    EXPECT_EQ(found.trailer.offsetB, 1300u);
    EXPECT_EQ(found.output, "find file end pos:" + std::to_string(row.expectedD) + ".");
}

INSTANTIATE_TEST_SUITE_P(PackageTrailer, TrailerSearch, testing::ValuesIn(searchRows),
                         [](const testing::TestParamInfo<SearchRow>& info) { return std::string(info.param.name); });

struct UnreadableRow {
    const char* name;
    Bytes bytes;
};

std::ostream& operator<<(std::ostream& os, const UnreadableRow& row) { return os << row.name; }

std::vector<UnreadableRow> unreadableRows()
{
    std::vector<UnreadableRow> rows;
    rows.push_back({"empty_file", {}});
    rows.push_back({"shorter_than_marker", Bytes{'<', '-', '-', '-', '-', 'e', 'n', 'd'}});
    // The nine bytes at offset 0 are never compared.
    rows.push_back({"marker_at_offset_0", Bytes{'<', '-', '-', '-', '-', 'e', 'n', 'd', 0, 'x'}});
    Bytes nomarker = stubimage(5000);
    rows.push_back({"no_marker", nomarker});
    Bytes b = stubimage(1000);
    b.insert(b.end(), 322, 'A');
    append(b, sampletrailer(1300, 1000));
    rows.push_back({"offsets_reversed", b});
    b = stubimage(1000);
    b.insert(b.end(), 322, 'A');
    append(b, sampletrailer(1000, 1000));
    rows.push_back({"offsets_equal", b});
    b = stubimage(1000);
    b.insert(b.end(), 322, 'A');
    append(b, sampletrailer(1000, 1323));
    rows.push_back({"offsetB_past_trailer", b});
    // A marker closer than 72 bytes to the start: the trailer would begin
    // before the file does.
    b = Bytes{'z', 'z', 'z', 'z', 'z', '<', '-', '-', '-', '-', 'e', 'n', 'd', 0, 'x'};
    rows.push_back({"trailer_before_start", b});
    return rows;
}

class UnreadableTrailer : public testing::TestWithParam<UnreadableRow> {};

TEST_P(UnreadableTrailer, IsReportedAsUnreadable) { EXPECT_EQ(find(GetParam().bytes).t, -1); }

INSTANTIATE_TEST_SUITE_P(PackageTrailer, UnreadableTrailer, testing::ValuesIn(unreadableRows()),
                         [](const testing::TestParamInfo<UnreadableRow>& info) {
                             return std::string(info.param.name);
                         });

// Signing tools append the certificate table, padded to 8 bytes, and point
// the security directory at it.
Bytes signedpackage(bool fakemarker, bool pointelsewhere)
{
    Bytes b = samplepackage();
    while (b.size() % 8) b.push_back(0);
    size_t table = b.size();
    Bytes certificate(600, 0x30);
    if (fakemarker) {
        Bytes fake(TRAILER_SIZE);
        encodetrailer(sampletrailer(10, 20), fake.data());
        memcpy(&certificate[400], fake.data(), fake.size());
    }
    b.insert(b.end(), certificate.begin(), certificate.end());
    setsecuritydirectory(b, uint32_t(pointelsewhere ? 8 : table), uint32_t(pointelsewhere ? 16 : certificate.size()));
    return b;
}

TEST(PackageTrailer, SignedPackageIsSearchedFromItsCertificateTable)
{
    for (bool fake : {false, true}) {
        Found found = find(signedpackage(fake, false));
        EXPECT_EQ(found.t, 1322) << "fake marker " << fake;
        EXPECT_EQ(found.trailer.offsetA, 1000u);
        EXPECT_EQ(found.trailer.offsetB, 1300u);
        // The table starts after the padding to 8 bytes.
        int padding = int((8 - samplepackage().size() % 8) % 8);
        EXPECT_EQ(found.output, "find file end pos:" + std::to_string(-9 - padding) + ".");
    }
}

TEST(PackageTrailer, SecurityDirectoryPointingElsewhereIsSearchedFromTheEnd)
{
    // Searched from the end of the file exactly as an unsigned one: the fake
    // trailer inside the table is the one nearest the end.
    Found found = find(signedpackage(true, true));
    EXPECT_EQ(found.t, int32_t((samplepackage().size() + 7) / 8 * 8 + 400));
    EXPECT_EQ(found.trailer.offsetA, 10u);
    // Without a fake marker the real trailer is found further back.
    found = find(signedpackage(false, true));
    EXPECT_EQ(found.t, 1322);
}

} // namespace
