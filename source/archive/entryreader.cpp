#include "entryreader.h"

#include "lzmaentry.h"

int32_t readentryrecord(unzFile archive, entryrecord& entry)
{
    unz_file_info64 record;
    // Asked twice: first for the name's length, then for the whole name.
    if (unzGetCurrentFileInfo64(archive, &record, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return ENTRY_NO_INFO;
    entry.name.assign(size_t(record.size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(archive, &record, &entry.name[0], uLong(entry.name.size()), nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        entry.name.clear();
        return ENTRY_NO_INFO;
    }
    entry.name.resize(size_t(record.size_filename));
    entry.crc = uint32_t(record.crc);
    entry.compressed = record.compressed_size;
    entry.size = record.uncompressed_size;
    entry.method = uint16_t(record.compression_method);
    entry.flags = uint16_t(record.flag);
    return ENTRY_OK;
}

namespace {

// minizip's reader hands out an LZMA entry's data as they are stored.
long readstored(void* archive, unsigned char* buffer, size_t size)
{
    const size_t most = 1u << 30;
    return unzReadCurrentFile(static_cast<unzFile>(archive), buffer, unsigned(size < most ? size : most));
}

int32_t decodeentry(unzFile archive, const entryrecord& entry, const entryoutput& output, size_t* lastlength)
{
    int32_t result =
        decodelzmaentry(lzmainput{archive, readstored}, entry.size, entry.crc, entry.flags, output, lastlength);
    unzCloseCurrentFile(archive);
    return result;
}

} // namespace

const char* entrymethodname(uint16_t method)
{
    switch (method) {
    case 0: return "stored";
    case Z_DEFLATED: return "deflate";
    case ENTRY_LZMA_METHOD: return "lzma";
    default: return nullptr;
    }
}

int32_t openentrydata(unzFile archive, const entryrecord& entry)
{
    if (entry.flags & 1) return ENTRY_ENCRYPTED;
    // minizip would hand out the data of some other methods as they are
    // stored, and they must never pass for the file's bytes.
    if (!entrymethodname(entry.method)) return ENTRY_UNKNOWN_METHOD;
    int opened = entry.method == ENTRY_LZMA_METHOD ? unzOpenCurrentFile2(archive, nullptr, nullptr, 1)
                                                   : unzOpenCurrentFile(archive);
    return opened == UNZ_OK ? ENTRY_OK : ENTRY_OPEN_FAILED;
}

int32_t inflateentry(unzFile archive, const entryrecord& entry, const entryoutput& output, size_t* lastlength)
{
    if (entry.method == ENTRY_LZMA_METHOD) return decodeentry(archive, entry, output, lastlength);
    *lastlength = 0;
    uint64_t total = 0;
    for (;;) {
        size_t size = 0;
        char* buffer = output.buffer(output.context, &size);
        if (!buffer || size == 0) {
            unzCloseCurrentFile(archive);
            return ENTRY_WRITE_FAILED;
        }
        size_t length = 0;
        int got = 1;
        while (length < size) {
            got = unzReadCurrentFile(archive, buffer + length, unsigned(size - length));
            if (got <= 0) break;
            length += size_t(got);
            total += unsigned(got);
        }
        if (got <= 0) {
            *lastlength = length;
            // minizip checks the CRC-32 only when the recorded size was reached.
            int closed = unzCloseCurrentFile(archive);
            if (got < 0) return ENTRY_DATA_DAMAGED;
            if (total != entry.size) return ENTRY_SIZE_MISMATCH;
            if (closed == UNZ_CRCERROR) return ENTRY_CRC_MISMATCH;
            return closed == UNZ_OK ? ENTRY_OK : ENTRY_DATA_DAMAGED;
        }
        if (!output.filled(output.context, length)) {
            unzCloseCurrentFile(archive);
            return ENTRY_WRITE_FAILED;
        }
    }
}
