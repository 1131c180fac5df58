// One entry of an archive open in minizip, read the same way wherever
// entries are read (the installer's reader, its read-ahead thread, the
// package inspector): the central record, the data opened, inflated into
// buffers the caller hands out (LZMA entries decoded by lzmaentry), the size
// and CRC-32 checked. No platform
// header: it builds natively too.
#pragma once

#include <unzip.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What became of an entry.
const int32_t ENTRY_OK = 0;
const int32_t ENTRY_NOT_OPEN = 1;        // no archive open, or no entry opened before its data were asked for
const int32_t ENTRY_NO_INFO = 2;         // the central-directory record cannot be read
const int32_t ENTRY_UNSAFE_NAME = 3;     // the name fails the rule of whoever writes the entry
const int32_t ENTRY_OPEN_FAILED = 4;     // minizip refuses the local header
const int32_t ENTRY_ENCRYPTED = 5;       // flagged as encrypted
const int32_t ENTRY_CREATE_FAILED = 6;   // the output could not take the entry (its file cannot be created)
const int32_t ENTRY_WRITE_FAILED = 7;    // the output refused the data, or writing or closing failed
const int32_t ENTRY_DATA_DAMAGED = 8;    // inflating or decoding failed
const int32_t ENTRY_CRC_MISMATCH = 9;    // inflated to the recorded size, CRC-32 differs
const int32_t ENTRY_SIZE_MISMATCH = 10;  // the data ended at another size than recorded
const int32_t ENTRY_UNKNOWN_METHOD = 11; // compressed by a method the reader does not decode

// An entry's central-directory record.
struct entryrecord {
    std::string name; // bytes as stored, in the builder's code page
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t size = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
};

// Reads the record of the archive's current entry: ENTRY_OK or ENTRY_NO_INFO.
int32_t readentryrecord(unzFile archive, entryrecord& entry);

// The name of a compression method the reader decodes ("stored", "deflate",
// "lzma"); null for any other.
const char* entrymethodname(uint16_t method);

// Opens the current entry's data: ENTRY_OK, ENTRY_ENCRYPTED,
// ENTRY_UNKNOWN_METHOD (nothing is opened, so no data of a method it cannot
// decode is ever handed out) or ENTRY_OPEN_FAILED.
int32_t openentrydata(unzFile archive, const entryrecord& entry);

// Where an entry's inflated bytes go: buffer hands out the next buffer to
// fill (its size in *size; null stops the entry), filled takes one that was
// filled whole while more data may follow (false stops the entry).
struct entryoutput {
    void* context;
    char* (*buffer)(void* context, size_t* size);
    bool (*filled)(void* context, size_t length);
};

// Inflates (or decodes, lzmaentry.h) the entry openentrydata opened into
// output's buffers and closes it. The last buffer handed out is not passed to filled: its length goes to
// *lastlength (0 when none was handed out), for the caller to use with the
// result. ENTRY_OK when the data are complete, of the recorded size and
// CRC-32; else ENTRY_WRITE_FAILED (output stopped it), ENTRY_DATA_DAMAGED,
// ENTRY_SIZE_MISMATCH or ENTRY_CRC_MISMATCH.
int32_t inflateentry(unzFile archive, const entryrecord& entry, const entryoutput& output, size_t* lastlength);
