#include "packagetrailer.h"

#include "bytes.h"
#include "logline.h"

#include <cstring>

const char TRAILER_MARKER[9] = "<----end";

namespace {

// The certificate table of a signed PE file, from the security entry of the
// optional header's data directory: its file offset and size, or false.
bool certificatetable(FILE* stream, uint32_t& offset, uint32_t& size)
{
    unsigned char dos[64];
    if (!readat(stream, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t pe = get32(dos + 0x3c);
    if (pe > 0x10000000) return false;
    unsigned char header[24 + 2];
    if (!readat(stream, long(pe), header, sizeof header) || memcmp(header, "PE\0\0", 4) != 0) return false;
    uint16_t optsize = get16(header + 20);
    uint16_t magic = get16(header + 24);
    uint32_t dirs; // offset of the data directory within the optional header
    if (magic == 0x10b)
        dirs = 96;
    else if (magic == 0x20b)
        dirs = 112;
    else
        return false;
    // Count of directory entries, then the security entry (index 4).
    unsigned char count[4], entry[8];
    if (optsize < dirs + 5 * 8) return false;
    if (!readat(stream, long(pe + 24 + dirs - 4), count, 4) || get32(count) < 5) return false;
    if (!readat(stream, long(pe + 24 + dirs + 4 * 8), entry, 8)) return false;
    offset = get32(entry);
    size = get32(entry + 4);
    return offset != 0 && size != 0;
}

} // namespace

void encodetrailer(const PackageTrailer& trailer, unsigned char out[81])
{
    put32(out, trailer.offsetA);
    memcpy(out + 4, trailer.digestA, 32);
    put32(out + 36, trailer.offsetB);
    memcpy(out + 40, trailer.digestB, 32);
    memcpy(out + 72, TRAILER_MARKER, 9);
}

bool decodetrailer(const unsigned char in[81], PackageTrailer& trailer)
{
    if (memcmp(in + 72, TRAILER_MARKER, 9) != 0) return false;
    trailer.offsetA = get32(in);
    memcpy(trailer.digestA, in + 4, 32);
    trailer.offsetB = get32(in + 36);
    memcpy(trailer.digestB, in + 40, 32);
    return true;
}

int32_t searchend(FILE* stream)
{
    if (fseek(stream, 0, SEEK_END) != 0) return -1;
    long size = ftell(stream);
    if (size < 0 || size > 0x7fffffffL) return -1;
    uint32_t offset, length;
    // Bytes inside a signature must not pose as the trailer: a signed file is
    // searched from where its certificate table starts.
    if (certificatetable(stream, offset, length) && uint64_t(offset) + length == uint64_t(size)) return int32_t(offset);
    return int32_t(size);
}

int32_t findtrailer(FILE* stream, PackageTrailer& trailer)
{
    int32_t d = 0;
    int32_t t = locatetrailer(stream, trailer, d);
    if (d != 0) plainline("find file end pos:%d.", int(d));
    return t;
}

int32_t locatetrailer(FILE* stream, PackageTrailer& trailer, int32_t& distance)
{
    distance = 0;
    int32_t end = searchend(stream);
    if (end < 0) return -1;
    // d counts back from the search end, as in the "find file end pos" line.
    // Bytes are read in chunks; positions are compared one step at a time.
    const int32_t CHUNK = 4096;
    unsigned char window[CHUNK + TRAILER_MARKER_SIZE];
    int32_t d = -TRAILER_MARKER_SIZE;
    bool found = false;
    while (end + d > 0 && !found) {
        int32_t high = end + d; // highest candidate position in this chunk
        int32_t low = high - CHUNK + 1;
        if (low < 1) low = 1;
        int32_t span = high - low + TRAILER_MARKER_SIZE;
        if (!readat(stream, low, window, size_t(span))) return -1;
        for (int32_t pos = high; pos >= low; --pos) {
            if (memcmp(window + (pos - low), TRAILER_MARKER, TRAILER_MARKER_SIZE) == 0) {
                d = pos - end;
                found = true;
                break;
            }
        }
        if (!found) d -= high - low + 1;
    }
    if (!found) return -1;
    distance = d;
    int32_t t = end + d - (TRAILER_SIZE - TRAILER_MARKER_SIZE);
    unsigned char bytes[TRAILER_SIZE];
    if (t < 0 || !readat(stream, t, bytes, sizeof bytes) || !decodetrailer(bytes, trailer)) return -1;
    if (!(trailer.offsetA < trailer.offsetB && trailer.offsetB <= uint32_t(t))) return -1;
    return t;
}
