#include "lzmaentry.h"

#include "owners.h"

#include <LzmaDec.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

const size_t INPUT_SIZE = 65536;

void* lzmaalloc(ISzAllocPtr, size_t size) { return malloc(size); }
void lzmafree(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc ALLOCATOR = {lzmaalloc, lzmafree};

// The decoder's probabilities, released when it goes; the dictionary is
// the caller's.
struct decoder {
    CLzmaDec state;
    decoder() { LzmaDec_Construct(&state); }
    ~decoder() { LzmaDec_FreeProbs(&state, &ALLOCATOR); }
    decoder(const decoder&) = delete;
    decoder& operator=(const decoder&) = delete;
};

// Reads until buffer holds size bytes or the input ends: the count, or -1.
long readfull(const lzmainput& input, unsigned char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        long got = input.read(input.context, buffer + done, size - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += size_t(got);
    }
    return long(done);
}

// Hands decoded bytes on through the output's buffers, asking for the next
// one only when there is something to put in it, and keeps their CRC-32.
struct outputfeed {
    const entryoutput& output;
    char* buffer = nullptr;
    size_t size = 0;
    size_t used = 0;
    uLong crc = crc32(0, nullptr, 0);

    bool put(const unsigned char* bytes, size_t length)
    {
        crc = crc32(crc, bytes, uInt(length));
        while (length > 0) {
            if (!buffer || used == size) {
                if (buffer && !output.filled(output.context, used)) return false;
                buffer = output.buffer(output.context, &size);
                used = 0;
                if (!buffer || size == 0) return false;
            }
            size_t n = std::min(length, size - used);
            memcpy(buffer + used, bytes, n);
            used += n;
            bytes += n;
            length -= n;
        }
        return true;
    }
};

} // namespace

int32_t decodelzmaentry(const lzmainput& input, uint64_t size, uint32_t crc, uint16_t flags, const entryoutput& output,
                        size_t* lastlength, size_t* dictionary)
{
    *lastlength = 0;
    if (dictionary) *dictionary = 0;
    unsigned char header[LZMA_HEADER_SIZE + LZMA_PROPERTIES_SIZE];
    if (readfull(input, header, sizeof header) != long(sizeof header)) return ENTRY_DATA_DAMAGED;
    // The first two bytes name the encoder's version, which decoding does not need.
    if (header[2] != LZMA_PROPERTIES_SIZE || header[3] != 0) return ENTRY_DATA_DAMAGED;
    const unsigned char* properties = header + LZMA_HEADER_SIZE;
    CLzmaProps parsed;
    if (LzmaProps_Decode(&parsed, properties, unsigned(LZMA_PROPERTIES_SIZE)) != SZ_OK) return ENTRY_DATA_DAMAGED;

    bool marker = (flags & ENTRY_LZMA_END_MARKER) != 0;
    // With a marker the decoder may make one byte more than recorded: a
    // stream that goes on past the recorded size shows so.
    uint64_t limit = marker && size < UINT64_MAX ? size + 1 : size;
    // A stream never reaches back further than it has made, so a dictionary
    // of the entry's size serves whatever the properties name; it is used as
    // a ring only when the properties' own is smaller.
    uint64_t ring = std::max<uint64_t>(std::min<uint64_t>(parsed.dicSize, limit), 1);
    if (ring > SIZE_MAX) return ENTRY_DATA_DAMAGED;
    crtbuffer<unsigned char> dictionarybytes(static_cast<unsigned char*>(malloc(size_t(ring))));
    crtbuffer<unsigned char> inputbytes(static_cast<unsigned char*>(malloc(INPUT_SIZE)));
    decoder d;
    if (!dictionarybytes || !inputbytes ||
        LzmaDec_AllocateProbs(&d.state, properties, unsigned(LZMA_PROPERTIES_SIZE), &ALLOCATOR) != SZ_OK)
        return ENTRY_DATA_DAMAGED;
    d.state.dic = dictionarybytes.get();
    d.state.dicBufSize = size_t(ring);
    LzmaDec_Init(&d.state);
    if (dictionary) *dictionary = size_t(ring);

    outputfeed feed{output};
    const unsigned char* next = inputbytes.get();
    size_t available = 0;
    bool ended = false;
    uint64_t produced = 0;
    for (;;) {
        if (available == 0 && !ended) {
            long got = input.read(input.context, inputbytes.get(), INPUT_SIZE);
            if (got < 0) return ENTRY_DATA_DAMAGED;
            ended = got == 0;
            next = inputbytes.get();
            available = size_t(got);
        }
        if (d.state.dicPos == d.state.dicBufSize) d.state.dicPos = 0;
        size_t from = d.state.dicPos;
        uint64_t room = limit - produced;
        size_t step = size_t(std::min<uint64_t>(room, d.state.dicBufSize - from));
        // Without a marker the stream must end exactly at the recorded size.
        ELzmaFinishMode finish = !marker && step == room ? LZMA_FINISH_END : LZMA_FINISH_ANY;
        SizeT used = available;
        ELzmaStatus status;
        SRes result = LzmaDec_DecodeToDic(&d.state, from + step, next, &used, finish, &status);
        next += used;
        available -= used;
        size_t made = d.state.dicPos - from;
        produced += made;
        // Nothing past the recorded size is handed on.
        size_t kept = produced > size ? made - size_t(produced - size) : made;
        if (kept > 0 && !feed.put(d.state.dic + from, kept)) return ENTRY_WRITE_FAILED;
        *lastlength = feed.used;
        // Without a marker, a stream that goes on past the recorded size is
        // a data error to the decoder, told to finish there.
        if (!marker && produced == size && status == LZMA_STATUS_NOT_FINISHED) return ENTRY_SIZE_MISMATCH;
        if (result != SZ_OK) return ENTRY_DATA_DAMAGED;
        if (produced > size) return ENTRY_SIZE_MISMATCH;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) break;
        if (!marker && produced == size && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) break;
        // Nothing moves: the data end before the stream does (or the
        // decoder takes no more of them).
        if (used == 0 && made == 0 && (available > 0 || ended)) return ENTRY_DATA_DAMAGED;
    }
    // A marker before the recorded size, or bytes after the stream's end.
    if (produced != size) return ENTRY_SIZE_MISMATCH;
    if (available > 0) return ENTRY_DATA_DAMAGED;
    unsigned char extra;
    if (!ended && input.read(input.context, &extra, 1) != 0) return ENTRY_DATA_DAMAGED;
    return uint32_t(feed.crc) == crc ? ENTRY_OK : ENTRY_CRC_MISMATCH;
}
