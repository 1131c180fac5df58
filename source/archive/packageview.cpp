#include "packageview.h"

#include <cstring>

namespace {

const long BLOCK_SIZE = 65536;

// Reads view bytes [at, at + length) from the file; the count read.
long readview(packageview* w, long at, unsigned char* out, long length)
{
    if (fseek(w->stream, w->base + at, SEEK_SET) != 0) {
        w->failed = true;
        return 0;
    }
    size_t got = fread(out, 1, size_t(length), w->stream);
    if (got < size_t(length) && ferror(w->stream)) w->failed = true;
    return long(got);
}

voidpf ZCALLBACK windowopen(voidpf opaque, const void*, int) { return static_cast<packageview*>(opaque)->stream; }

uLong ZCALLBACK windowread(voidpf opaque, voidpf, void* buf, uLong size)
{
    packageview* w = static_cast<packageview*>(opaque);
    if (w->pos >= w->size) return 0;
    // Reads stop at the end of archive A: archive B and the trailer stay unseen.
    long want = uLong(w->size - w->pos) < size ? w->size - w->pos : long(size);
    auto* out = static_cast<unsigned char*>(buf);
    if (want >= BLOCK_SIZE) {
        long got = readview(w, w->pos, out, want);
        w->pos += got;
        return uLong(got);
    }
    long done = 0;
    while (done < want) {
        packageviewblock* hit = nullptr;
        for (packageviewblock& b : w->blocks)
            if (w->pos >= b.start && w->pos < b.start + b.length) hit = &b;
        if (!hit) {
            hit = w->blocks[0].used <= w->blocks[1].used ? &w->blocks[0] : &w->blocks[1];
            hit->bytes.resize(size_t(BLOCK_SIZE));
            long length = w->size - w->pos < BLOCK_SIZE ? w->size - w->pos : BLOCK_SIZE;
            hit->start = w->pos;
            hit->length = readview(w, w->pos, hit->bytes.data(), length);
            if (hit->length == 0) break;
        }
        hit->used = ++w->clock;
        long from = w->pos - hit->start;
        long n = hit->length - from < want - done ? hit->length - from : want - done;
        memcpy(out + done, hit->bytes.data() + from, size_t(n));
        done += n;
        w->pos += n;
    }
    return uLong(done);
}

uLong ZCALLBACK windowwrite(voidpf, voidpf, const void*, uLong)
{
    return 0; // the package is opened for reading only
}

ZPOS64_T ZCALLBACK windowtell(voidpf opaque, voidpf) { return ZPOS64_T(static_cast<packageview*>(opaque)->pos); }

long ZCALLBACK windowseek(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
{
    packageview* w = static_cast<packageview*>(opaque);
    long long target;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: target = (long long)offset; break;
    case ZLIB_FILEFUNC_SEEK_CUR: target = w->pos + (long long)offset; break;
    case ZLIB_FILEFUNC_SEEK_END: target = w->size + (long long)offset; break;
    default: return -1;
    }
    if (target < 0 || target > w->size) return -1;
    w->pos = long(target);
    return 0;
}

int ZCALLBACK windowclose(voidpf, voidpf)
{
    return 0; // the stream belongs to the reader, which closes it
}

int ZCALLBACK windowerror(voidpf opaque, voidpf)
{
    packageview* w = static_cast<packageview*>(opaque);
    return w->failed || ferror(w->stream);
}

} // namespace

zlib_filefunc64_def packagewindow(packageview* w)
{
    zlib_filefunc64_def functions;
    functions.zopen64_file = windowopen;
    functions.zread_file = windowread;
    functions.zwrite_file = windowwrite;
    functions.ztell64_file = windowtell;
    functions.zseek64_file = windowseek;
    functions.zclose_file = windowclose;
    functions.zerror_file = windowerror;
    functions.opaque = w;
    return functions;
}

bool emptyarchive(packageview& w)
{
    unsigned char record[22];
    if (w.size < 22 || fseek(w.stream, w.base, SEEK_SET) != 0 || fread(record, 1, 22, w.stream) != 22) return false;
    static const unsigned char EMPTY[20] = {'P', 'K', 5, 6};
    long comment = record[20] | record[21] << 8;
    return memcmp(record, EMPTY, 20) == 0 && comment == w.size - 22;
}
