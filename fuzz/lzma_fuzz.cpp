// Decodes the input as the data of a ZIP entry of method 14 (lzmaentry.h):
// an 8-byte record first (the end-marker flag, the recorded size, how the
// data arrive and leave in pieces), the entry's data after it. Whatever the
// bytes, the decoder must end with one of its results, hand out no more
// than the recorded size, hold no dictionary larger than the entry needs,
// call an entry sound only when it handed out exactly the recorded bytes
// with the recorded CRC-32, and decode the same way twice.
#include "lzmaentry.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct input {
    const uint8_t* data;
    size_t size;
    size_t piece;
    size_t at = 0;
    static long read(void* self, unsigned char* buffer, size_t size)
    {
        input* in = static_cast<input*>(self);
        size_t n = std::min({size, in->piece, in->size - in->at});
        memcpy(buffer, in->data + in->at, n);
        in->at += n;
        return long(n);
    }
};

struct output {
    size_t piece;
    std::string buffer;
    std::string data;
    static char* next(void* self, size_t* size)
    {
        output* out = static_cast<output*>(self);
        out->buffer.assign(out->piece, '\0');
        *size = out->piece;
        return &out->buffer[0];
    }
    static bool filled(void* self, size_t length)
    {
        output* out = static_cast<output*>(self);
        out->data.append(out->buffer, 0, length);
        return true;
    }
};

[[noreturn]] void fail(const char* why, unsigned long long got, unsigned long long limit)
{
    fprintf(stderr, "%s: %llu (limit %llu)\n", why, got, limit);
    abort();
}

} // namespace

// Record: byte 0 bit 1 the end-marker flag, bits 2-7 the input piece (x 64
// bytes, 0: one byte at a time); bytes 1-3 the recorded size; byte 4 the
// output piece (x 256 bytes, 0: one byte); bytes 5-7 unused. The first
// decode takes CRC-32 0 and the second the CRC-32 of what the first made,
// so that a sound stream reaches the sound path.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8) return 0;
    uint16_t flags = data[0] & ENTRY_LZMA_END_MARKER;
    size_t inpiece = size_t(data[0] >> 2) * 64;
    uint64_t recorded = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
    size_t outpiece = data[4] ? size_t(data[4]) * 256 : 1;
    uint32_t results[2] = {};
    std::string decoded[2];
    uint32_t crc = 0;
    for (int round = 0; round < 2; ++round) {
        input in{data + 8, size - 8, inpiece ? inpiece : 1};
        output out{outpiece, {}, {}};
        size_t last = 0;
        size_t dictionary = 0;
        int32_t result = decodelzmaentry(lzmainput{&in, input::read}, recorded, crc, flags,
                                         entryoutput{&out, output::next, output::filled}, &last, &dictionary);
        out.data.append(out.buffer, 0, last);
        switch (result) {
        case ENTRY_OK:
        case ENTRY_DATA_DAMAGED:
        case ENTRY_SIZE_MISMATCH:
        case ENTRY_CRC_MISMATCH: break;
        default: fail("unexpected result", uint64_t(result), 0);
        }
        if (out.data.size() > recorded) fail("handed out past the recorded size", out.data.size(), recorded);
        if (dictionary > std::max<uint64_t>(recorded + 1, 1)) fail("dictionary", dictionary, recorded + 1);
        uint32_t sum = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(out.data.data()), uInt(out.data.size())));
        if (result == ENTRY_OK && (out.data.size() != recorded || sum != crc)) fail("sound but not whole", 0, 0);
        results[round] = uint32_t(result);
        decoded[round] = out.data;
        crc = sum;
    }
    // With the CRC-32 of what it made, a stream the decoder made whole is sound.
    if (results[0] == ENTRY_CRC_MISMATCH && results[1] != ENTRY_OK) fail("second decode", results[1], ENTRY_OK);
    if (decoded[0] != decoded[1]) fail("decodes differ", decoded[0].size(), decoded[1].size());
    return 0;
}
