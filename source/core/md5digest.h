// The package digest: RFC 1321 MD5 with two properties every stored package
// depends on. A block of 36864 bytes or more is digested as nine 4096-byte
// samples, and a message whose length is 56 modulo 64 gets no padding.
#pragma once

#include <cstdint>
#include <cstdio>

class Md5Digest {
public:
    static const int32_t SAMPLE_SIZE = 4096;
    static const int32_t SAMPLE_COUNT = 9;
    // Below this size a block is digested whole.
    static const int32_t SAMPLED_MIN = SAMPLE_SIZE * SAMPLE_COUNT;

    Md5Digest() { init(); }

    // Resets the object to the RFC 1321 start state.
    void init();
    // Feeds length bytes.
    void update(const unsigned char* bytes, int32_t length);
    // Completes the digest and its hex text; a second call does nothing.
    void finalize();
    // Digests a block (sampled from 36864 bytes on); writes 32 hex characters
    // and a zero byte to out (at least 33 bytes). Returns out.
    char* digestbuffer(const unsigned char* bytes, int32_t length, char* out);
    // Digests the whole content of an open stream, rewinding it first and
    // reading only the bytes that are hashed. Leaves the stream at its end.
    // Returns 0, or -1 when the stream could not be read.
    int digestfile(FILE* stream, char* out);
    // Digests the region [start, start + length) of an open stream, reading
    // only the bytes that are hashed. Returns 0, or -1 on a short read.
    int digestregion(FILE* stream, int32_t start, int32_t length, char* out);

    const char* hex() const { return hextext; }

private:
    void transform(const unsigned char block[64]);

    int32_t samplecount;
    uint32_t state[4];
    unsigned char buffer[64];
    int32_t buffered;
    uint64_t bitcount;
    unsigned char digest[16];
    char hextext[33];
    bool finalised;
};
