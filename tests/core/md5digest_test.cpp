#include "md5digest.h"

#include "../helpers/testnoise.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string digestof(const std::vector<unsigned char>& bytes)
{
    Md5Digest md5;
    char out[64];
    md5.digestbuffer(bytes.data(), int32_t(bytes.size()), out);
    return out;
}

std::vector<unsigned char> repeated(size_t n, unsigned char c) { return std::vector<unsigned char>(n, c); }

// Bytes that differ at every offset, so a wrong sample offset changes the digest.
std::vector<unsigned char> counting(size_t n)
{
    std::string bytes = noise(n, 12345);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

struct DigestRow {
    const char* name;
    size_t length;
    unsigned char fill;
    const char* expected;
};

std::ostream& operator<<(std::ostream& os, const DigestRow& row) { return os << row.name; }

// RFC 1321 values except where the message length is 56 modulo 64.
const DigestRow digestRows[] = {
    {"empty", 0, 'a', "d41d8cd98f00b204e9800998ecf8427e"},
    {"a_x55", 55, 'a', "ef1772b6dff9a122358552954ad0df65"},
    {"a_x56_unpadded", 56, 'a', "959729528c4d3149aaed8b0aca8859bb"},
    {"a_x57", 57, 'a', "652b906d60af96844ebd21b674f35e93"},
    {"a_x64", 64, 'a', "014842d480b571495a4a0363793f7367"},
};

class DigestVectors : public testing::TestWithParam<DigestRow> {};

TEST_P(DigestVectors, MatchesStoredDigests)
{
    const DigestRow& row = GetParam();
    EXPECT_EQ(digestof(repeated(row.length, row.fill)), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Md5Digest, DigestVectors, testing::ValuesIn(digestRows),
                         [](const testing::TestParamInfo<DigestRow>& info) { return std::string(info.param.name); });

TEST(Md5Digest, EmptyArchiveDigest)
{
    std::vector<unsigned char> empty(22, 0);
    empty[0] = 'P';
    empty[1] = 'K';
    empty[2] = 5;
    empty[3] = 6;
    EXPECT_EQ(digestof(empty), "76cdb2bad9582d23c1f6f4d868218d6c");
}

TEST(Md5Digest, BlockOf36864IsDigestedWhole)
{
    auto bytes = counting(36864);
    Md5Digest whole;
    whole.init();
    whole.update(bytes.data(), int32_t(bytes.size()));
    whole.finalize();
    EXPECT_EQ(digestof(bytes), whole.hex());
}

TEST(Md5Digest, SampledDigestSkipsTheBytesBetweenSamples)
{
    auto bytes = counting(36865);
    std::string base = digestof(bytes);
    // s = 4096: samples cover [0, 32768) and [32769, 36865); byte 32768 is skipped.
    auto changed = bytes;
    changed[32768] ^= 0xff;
    EXPECT_EQ(digestof(changed), base);
    changed = bytes;
    changed[32769] ^= 0xff;
    EXPECT_NE(digestof(changed), base);

    // The sampled digest is the plain digest of the nine samples in order.
    std::vector<unsigned char> samples(bytes.begin(), bytes.begin() + 32768);
    samples.insert(samples.end(), bytes.begin() + 32769, bytes.end());
    Md5Digest plain;
    plain.update(samples.data(), int32_t(samples.size()));
    plain.finalize();
    EXPECT_EQ(base, plain.hex());
}

TEST(Md5Digest, RepeatedCallsGiveTheSameText)
{
    auto bytes = counting(100000);
    Md5Digest md5;
    char first[64], second[64];
    md5.digestbuffer(bytes.data(), int32_t(bytes.size()), first);
    md5.digestbuffer(bytes.data(), int32_t(bytes.size()), second);
    EXPECT_STREQ(first, second);
}

// The file and region digests read only the hashed bytes; they must agree
// with the digest of the same bytes in memory for every size class.
class FileDigest : public testing::TestWithParam<size_t> {};

TEST_P(FileDigest, AgreesWithBufferDigest)
{
    size_t n = GetParam();
    auto bytes = counting(n + 1000);
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    // Leave the stream at its end: the digest rewinds first.
    fflush(f);

    std::vector<unsigned char> whole(bytes.begin(), bytes.end());
    std::vector<unsigned char> region(bytes.begin() + 700, bytes.begin() + 700 + long(n));
    Md5Digest md5;
    char out[64];
    ASSERT_EQ(md5.digestfile(f, out), 0);
    EXPECT_EQ(std::string(out), digestof(whole));
    ASSERT_EQ(md5.digestregion(f, 700, int32_t(n), out), 0);
    EXPECT_EQ(std::string(out), digestof(region));
    // A region past the end of the file is a failure, not a digest.
    EXPECT_EQ(md5.digestregion(f, int32_t(bytes.size()) - 10, int32_t(n) + 11, out), -1);
    fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Md5Digest, FileDigest, testing::Values(0, 56, 36863, 36864, 36865, 1000000));

} // namespace
