// A ZIP archive written record by record, for what minizip's writer cannot
// hold: entries of method 14 (LZMA) beside deflate ones. Everything else is
// the shape the builder's archives have: no time stamps (time 0, date
// 0x0020), no directory entries, flags 0x0002 (for LZMA: the stream ends
// with its marker), no extra fields, the text flag as internal attribute,
// version made by 0; version needed 20, 63 for LZMA (APPNOTE 4.4.3.2).
// Each entry's sizes and CRC-32 are known before its data, so every local
// header is written once, complete. With 65535 entries or more a zip64 end
// record and locator stand before the end record.
#pragma once

#include "owners.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct zipentry {
    std::string name; // bytes as stored
    uint16_t method = 8;
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t size = 0;
    bool text = false;
};

class zipwriter {
public:
    // Creates the archive file (an existing one is emptied): false when it
    // cannot be created.
    bool open(const std::string& path);
    // Writes entry's local header; entry.compressed bytes of data follow
    // through add. False when writing failed or the archive would pass the
    // 32-bit offsets.
    bool begin(const zipentry& entry);
    bool add(const char* data, size_t length);
    // Writes the central directory and the end records and closes the file:
    // false when any write so far failed or an entry's data did not come
    // whole.
    bool close();

private:
    bool write(const char* bytes, size_t length);

    stdiofile file;
    uint64_t position = 0;
    uint64_t entries = 0;
    uint64_t expected = 0; // data bytes the entry begun last still needs
    std::string central;
    bool failed = false;
};
