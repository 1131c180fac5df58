#include "md5digest.h"

#include "bytes.h"

#include <cstring>
#include <vector>

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

const uint32_t K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const int R[64] = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

} // namespace

void Md5Digest::init()
{
    samplecount = SAMPLE_COUNT;
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    buffered = 0;
    bitcount = 0;
    memset(buffer, 0, sizeof buffer);
    memset(digest, 0, sizeof digest);
    memset(hextext, 0, sizeof hextext);
    finalised = false;
}

void Md5Digest::transform(const unsigned char block[64])
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + K[i] + m[g], R[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5Digest::update(const unsigned char* bytes, int32_t length)
{
    if (length <= 0) return;
    bitcount += uint64_t(length) * 8;
    finalised = false;
    int32_t pos = 0;
    if (buffered + length < 64) {
        memcpy(buffer + buffered, bytes, size_t(length));
        buffered += length;
        return;
    }
    int32_t fill = 64 - buffered;
    memcpy(buffer + buffered, bytes, size_t(fill));
    transform(buffer);
    pos = fill;
    for (; pos + 64 <= length; pos += 64) transform(bytes + pos);
    buffered = length - pos;
    memcpy(buffer, bytes + pos, size_t(buffered));
}

void Md5Digest::finalize()
{
    if (finalised) return;
    static const unsigned char padding[64] = {0x80};
    int32_t p = 56 - buffered;
    // p == 0 gets no padding at all: stored packages were digested that way.
    if (p != 0) {
        int32_t n = p > 0 ? p : p + 64;
        uint64_t saved = bitcount;
        update(padding, n);
        bitcount = saved;
    }
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) length[i] = (unsigned char)(bitcount >> (8 * i));
    uint64_t saved = bitcount;
    update(length, 8);
    bitcount = saved;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = (unsigned char)(state[i] >> (8 * j));
    static const char hexdigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        hextext[2 * i] = hexdigits[digest[i] >> 4];
        hextext[2 * i + 1] = hexdigits[digest[i] & 15];
    }
    hextext[32] = 0;
    finalised = true;
}

char* Md5Digest::digestbuffer(const unsigned char* bytes, int32_t length, char* out)
{
    int32_t step = length / samplecount;
    init();
    if (step < SAMPLE_SIZE) {
        update(bytes, length);
    } else {
        for (int32_t i = 0; i < samplecount - 1; ++i) update(bytes + i * step, SAMPLE_SIZE);
        update(bytes + length - SAMPLE_SIZE, SAMPLE_SIZE);
    }
    finalize();
    memcpy(out, hextext, sizeof hextext);
    return out;
}

int Md5Digest::digestregion(FILE* stream, int32_t start, int32_t length, char* out)
{
    if (length < 0) return -1;
    std::vector<unsigned char> bytes;
    if (length < SAMPLED_MIN) {
        bytes.resize(size_t(length));
        if (length > 0 && !readat(stream, start, bytes.data(), bytes.size())) return -1;
        digestbuffer(bytes.data(), length, out);
        return 0;
    }
    // Only the samples are read: the same bytes digestbuffer would hash.
    int32_t step = length / SAMPLE_COUNT;
    bytes.resize(SAMPLED_MIN);
    for (int32_t i = 0; i < SAMPLE_COUNT - 1; ++i)
        if (!readat(stream, long(start) + long(i) * step, bytes.data() + i * SAMPLE_SIZE, SAMPLE_SIZE)) return -1;
    if (!readat(stream, long(start) + length - SAMPLE_SIZE, bytes.data() + (SAMPLE_COUNT - 1) * SAMPLE_SIZE,
                SAMPLE_SIZE))
        return -1;
    digestbuffer(bytes.data(), SAMPLED_MIN, out);
    return 0;
}

int Md5Digest::digestfile(FILE* stream, char* out)
{
    if (fseek(stream, 0, SEEK_END) != 0) return -1;
    long size = ftell(stream);
    if (size < 0 || size > 0x7fffffffL) return -1;
    int result = digestregion(stream, 0, int32_t(size), out);
    fseek(stream, 0, SEEK_END);
    return result;
}
