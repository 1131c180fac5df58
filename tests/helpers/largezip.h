// An archive with one zip64 entry of zeros larger than 4 GiB, written by
// minizip's writer behind a small setup program, that stays a few MB: the
// zeros are deflated once per MiB with a full flush, after which the
// compressor starts afresh, so one short piece repeated is the whole stream.
// Header-only, for the native and the Windows tests alike.
#pragma once

#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace largezip {

const uint64_t MIB = 1u << 20;

// One MiB of zeros as a raw deflate piece ending in a full flush.
inline std::string zeropiece(z_stream& stream)
{
    std::vector<unsigned char> zeros(MIB, 0);
    std::string out(MIB, '\0');
    stream.next_in = zeros.data();
    stream.avail_in = unsigned(zeros.size());
    stream.next_out = reinterpret_cast<unsigned char*>(&out[0]);
    stream.avail_out = unsigned(out.size());
    if (deflate(&stream, Z_FULL_FLUSH) != Z_OK || stream.avail_in != 0) return std::string();
    out.resize(out.size() - stream.avail_out);
    return out;
}

// Writes at path (then removed) the archive of program as setup\rEdizo.exe
// and size zeros (a whole number of MiB) as name, and returns its bytes;
// empty when it could not be written.
inline std::string zeroarchive(const std::string& path, const std::string& program, const char* name, uint64_t size)
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::string();
    std::string piece = zeropiece(stream);
    bool repeats = !piece.empty() && zeropiece(stream) == piece;
    unsigned char last[16];
    stream.next_in = nullptr;
    stream.avail_in = 0;
    stream.next_out = last;
    stream.avail_out = sizeof last;
    bool ended = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    std::string end(reinterpret_cast<char*>(last), sizeof last - stream.avail_out);
    deflateEnd(&stream);
    if (!repeats || !ended) return std::string();

    std::vector<unsigned char> zeros(MIB, 0);
    uLong piececrc = crc32(0, zeros.data(), uInt(MIB));
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t done = 0; done < size; done += MIB) crc = crc32_combine(crc, piececrc, z_off_t(MIB));

    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return std::string();
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    bool written = zipOpenNewFileInZip(zip, "setup\\rEdizo.exe", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                       9) == ZIP_OK &&
                   zipWriteInFileInZip(zip, program.data(), unsigned(program.size())) == ZIP_OK &&
                   zipCloseFileInZip(zip) == ZIP_OK &&
                   zipOpenNewFileInZip3_64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1,
                                           -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 1) == ZIP_OK;
    for (uint64_t done = 0; written && done < size; done += MIB)
        written = zipWriteInFileInZip(zip, piece.data(), unsigned(piece.size())) == ZIP_OK;
    written = written && zipWriteInFileInZip(zip, end.data(), unsigned(end.size())) == ZIP_OK &&
              zipCloseFileInZipRaw64(zip, size, crc) == ZIP_OK;
    written = zipClose(zip, nullptr) == ZIP_OK && written;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    remove(path.c_str());
    return written ? bytes.str() : std::string();
}

inline uint16_t get16(const std::string& bytes, size_t at)
{
    return uint16_t((unsigned char)bytes[at] | (unsigned char)bytes[at + 1] << 8);
}

// Sets the 64-bit size in the zip64 field of the last central record (the
// large entry's); false when that record has none.
inline bool setrecordedsize(std::string& archive, uint64_t size)
{
    size_t at = archive.rfind(std::string("PK\x01\x02", 4));
    if (at == std::string::npos || archive.compare(at + 24, 4, "\xFF\xFF\xFF\xFF") != 0) return false;
    size_t extra = at + 46 + get16(archive, at + 28);
    size_t extraend = extra + get16(archive, at + 30);
    while (extra + 4 <= extraend && get16(archive, extra) != 1) extra += 4 + get16(archive, extra + 2);
    if (extra + 12 > extraend) return false;
    for (int i = 0; i < 8; ++i) archive[extra + 4 + size_t(i)] = char(size >> (8 * i));
    return true;
}

} // namespace largezip
