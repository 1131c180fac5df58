// The data of a ZIP entry of method 14 (LZMA), decoded with the LZMA SDK's
// decoder: the format's 4-byte header (the encoder's version, the size of
// the properties), the 5 property bytes, then the LZMA stream, which ends
// with an end marker when the entry's flag bit 1 says so and otherwise
// after exactly the recorded size. No platform header: it builds natively
// too, where it is tested and fuzzed.
#pragma once

#include "entryreader.h"
#include "packagerules.h"

#include <cstddef>
#include <cstdint>

// The header before the stream (the method and the end-marker flag are the
// package's rules: ENTRY_LZMA_METHOD, ENTRY_LZMA_END_MARKER in packagerules.h).
const size_t LZMA_HEADER_SIZE = 4;
const size_t LZMA_PROPERTIES_SIZE = 5;

// Where an entry's compressed bytes come from: read fills buffer with up to
// size bytes and returns how many, 0 at the end of the entry's data, or a
// negative number when reading failed.
struct lzmainput {
    void* context;
    long (*read)(void* context, unsigned char* buffer, size_t size);
};

// Decodes an entry's compressed data from input into output's buffers, as
// inflateentry does: the last buffer handed out is not passed to filled, its
// length goes to *lastlength. size, crc and flags are the entry's record. The
// dictionary held is never larger than the entry needs (its size plus one
// byte, to see a stream that goes on), whatever the properties ask for; its
// size goes to *dictionary when given. ENTRY_OK when the stream ends where
// the record says, with the recorded CRC-32; ENTRY_WRITE_FAILED (output
// stopped it), ENTRY_DATA_DAMAGED (a header, properties or stream the
// decoder refuses, data that end before the stream does or go on after it,
// memory the dictionary cannot have), ENTRY_SIZE_MISMATCH (the stream ends
// at another size) or ENTRY_CRC_MISMATCH.
int32_t decodelzmaentry(const lzmainput& input, uint64_t size, uint32_t crc, uint16_t flags, const entryoutput& output,
                        size_t* lastlength, size_t* dictionary = nullptr);
