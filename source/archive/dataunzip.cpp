#include "dataunzip.h"

#include "entryname.h"
#include "handles.h"
#include "inflateahead.h"
#include "logline.h"
#include "md5digest.h"
#include "packagetrailer.h"
#include "pathhelpers.h"

#include <unzip.h>
#include <windows.h>

#include <direct.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const int32_t NAME_SIZE = ENTRY_NAME_SIZE;
static_assert(NAME_SIZE == int32_t(INFLATEAHEAD_NAME_SIZE), "one name buffer size");

// What packagewindow shows minizip: bytes [base, base + size) of the package
// as positions [0, size). The zip64 locator holds an offset relative to the
// archive's first byte, so the archive must start at position 0 of the view.
// minizip seeks and tells around every small read, and each of those is a
// trip to the system: the view keeps its own position and serves reads from
// two cached blocks, one for the central directory it walks and one for the
// entry it inflates.
const long BLOCK_SIZE = 65536;

struct cacheblock {
    std::vector<unsigned char> bytes;
    long start = 0;
    long length = 0;
    unsigned long used = 0;
};

struct window {
    FILE* stream = nullptr;
    long base = 0;
    long size = 0;
    long pos = 0;
    bool failed = false;
    cacheblock blocks[2];
    unsigned long clock = 0;
};

// Reads view bytes [at, at + length) from the file; the count read.
long readview(window* w, long at, unsigned char* out, long length)
{
    if (fseek(w->stream, w->base + at, SEEK_SET) != 0) {
        w->failed = true;
        return 0;
    }
    size_t got = fread(out, 1, size_t(length), w->stream);
    if (got < size_t(length) && ferror(w->stream)) w->failed = true;
    return long(got);
}

voidpf ZCALLBACK windowopen(voidpf opaque, const void*, int) { return static_cast<window*>(opaque)->stream; }

uLong ZCALLBACK windowread(voidpf opaque, voidpf, void* buf, uLong size)
{
    window* w = static_cast<window*>(opaque);
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
        cacheblock* hit = nullptr;
        for (cacheblock& b : w->blocks)
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

ZPOS64_T ZCALLBACK windowtell(voidpf opaque, voidpf) { return ZPOS64_T(static_cast<window*>(opaque)->pos); }

long ZCALLBACK windowseek(voidpf opaque, voidpf, ZPOS64_T offset, int origin)
{
    window* w = static_cast<window*>(opaque);
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
    window* w = static_cast<window*>(opaque);
    return w->failed || ferror(w->stream);
}

zlib_filefunc64_def packagewindow(window* w)
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

// True when the window holds an end record without entries and nothing else.
bool emptyarchive(window& w)
{
    unsigned char record[22];
    if (w.size < 22 || fseek(w.stream, w.base, SEEK_SET) != 0 || fread(record, 1, 22, w.stream) != 22) return false;
    static const unsigned char EMPTY[20] = {'P', 'K', 5, 6};
    long comment = record[20] | record[21] << 8;
    return memcmp(record, EMPTY, 20) == 0 && comment == w.size - 22;
}

bool isseparator(char c) { return c == '\\' || c == '/'; }

// Position of the character after name[i] in the ANSI code page: a trail byte
// of a double-byte character may equal a separator and must not count as one.
size_t nextchar(const char* name, size_t i)
{
    if (IsDBCSLeadByte(BYTE(name[i])) && name[i + 1] != 0) return i + 2;
    return i + 1;
}

// Double-byte characters of the ANSI code page, in which names reach the file functions.
bool ansileadbyte(unsigned char byte) { return IsDBCSLeadByte(BYTE(byte)) != 0; }

// Writes all bytes, going on after a short write until a write returns 0.
bool writeall(FILE* out, const char* bytes, size_t length)
{
    for (size_t done = 0; done < length;) {
        size_t wrote = fwrite(bytes + done, 1, length - done, out);
        if (wrote == 0) return false;
        done += wrote;
    }
    return true;
}

struct unzfiletraits {
    using handle = unzFile;
    static unzFile invalid() { return nullptr; }
    static void close(unzFile h) { unzClose(h); }
};
// An archive opened with unzOpen2_64.
using unzhandle = uniqueresource<unzfiletraits>;

} // namespace

bool safeentryname(const char* name) { return safeentryname(name, ansileadbyte); }

struct dataunzip::state {
    // Declared in the order they are released: the archive before the file
    // it reads, then the saved directory is made current again.
    savedcurrentdirectory saveddir;
    stdiofile stream;
    unzhandle handle;
    window view;
    unz_global_info global = {};
    unz_file_info current = {};
    int32_t trailerpos = -1;
    uint32_t offsetA = 0;
    uint32_t offsetB = 0;
    // The entry readcurfile opened, until filewrite or gotonextfile consumes it.
    bool entryopen = false;
    char entryname[NAME_SIZE] = {};
    int32_t failure = DATAUNZIP_OK;
    crtbuffer<char> buffer;
    // Directories this reader made (or found) below made_in: most entries
    // share their parents, and every _mkdir is a trip to the file system.
    std::string madein;
    std::set<std::string> made;
    // The target filewrite last made current; empty when unknown.
    std::string incurrent;

    // Reading ahead: the thread owns the archive while it runs. at is the
    // entry the caller is on; its header piece has been handed out
    // (headertaken), its last piece consumed (entrydone, with the thread's
    // advance result).
    size_t aheadpieces = DATAUNZIP_AHEAD_PIECES;
    size_t piecesize = DATAUNZIP_PIECE_SIZE;
    std::unique_ptr<inflateahead> ahead;
    uint32_t at = 0;
    bool headertaken = false;
    bool entrydone = false;
    int32_t advanced = 0;
    unz64_file_pos where = {};

    int32_t fail(int32_t cause)
    {
        failure = cause;
        return -1;
    }

    void closeentry()
    {
        // Ahead, the thread opens and closes the entries itself.
        if (entryopen && !ahead) unzCloseCurrentFile(handle.get());
        entryopen = false;
    }

    // Consumes a piece of entry at; true when it was the entry's last.
    bool consume(const inflatedpiece* piece)
    {
        bool last = piece->last;
        if (last) {
            advanced = piece->advanced;
            entrydone = true;
        }
        ahead->release();
        return last;
    }

    // Drops what is left of entry at.
    void finishentry()
    {
        while (!entrydone) {
            const inflatedpiece* piece = ahead->next();
            if (!piece || piece->entry != at) {
                // The thread ended without the entry's end: nothing follows.
                advanced = -1;
                entrydone = true;
                break;
            }
            consume(piece);
        }
    }

    // An entry read a second time: the thread stops and the archive goes
    // back to the entry, which is then read here, as all that follow.
    void stopahead()
    {
        ahead.reset();
        if (headertaken) unzGoToFilePos64(handle.get(), &where);
    }

    int32_t takeheader(char* name)
    {
        const inflatedpiece* piece = ahead->next();
        if (!piece || piece->entry != at || !piece->first) return fail(DATAUNZIP_NO_INFO);
        headertaken = true;
        where = piece->where;
        current = piece->info;
        memcpy(name, piece->name, size_t(NAME_SIZE));
        if (!piece->opened) {
            int32_t cause = piece->cause;
            consume(piece);
            return fail(cause);
        }
        // The piece stays: it holds the entry's first data.
        entryopen = true;
        memcpy(entryname, name, size_t(NAME_SIZE));
        failure = DATAUNZIP_OK;
        return 0;
    }

    // Writes the inflated entry to out: a DATAUNZIP_ value.
    int32_t copyahead(FILE* out)
    {
        for (;;) {
            const inflatedpiece* piece = ahead->next();
            if (!piece || piece->entry != at) return DATAUNZIP_DATA_DAMAGED;
            if (!writeall(out, piece->data, piece->length)) return DATAUNZIP_WRITE_FAILED;
            int32_t cause = piece->cause;
            if (consume(piece)) return cause;
        }
    }

    // The same, inflating here.
    int32_t copyhere(FILE* out)
    {
        if (!buffer) buffer.reset(static_cast<char*>(malloc(piecesize)));
        int32_t cause = buffer ? DATAUNZIP_OK : DATAUNZIP_WRITE_FAILED;
        unsigned long long total = 0;
        while (cause == DATAUNZIP_OK) {
            int got = unzReadCurrentFile(handle.get(), buffer.get(), unsigned(piecesize));
            if (got < 0) cause = DATAUNZIP_DATA_DAMAGED;
            if (got <= 0) break;
            total += unsigned(got);
            if (!writeall(out, buffer.get(), size_t(got))) cause = DATAUNZIP_WRITE_FAILED;
        }
        // minizip checks the CRC-32 only when the stored size was reached.
        int closed = unzCloseCurrentFile(handle.get());
        entryopen = false;
        if (cause == DATAUNZIP_OK && total != current.uncompressed_size) cause = DATAUNZIP_DATA_DAMAGED;
        if (cause == DATAUNZIP_OK && closed == UNZ_CRCERROR)
            cause = DATAUNZIP_CRC_MISMATCH;
        else if (cause == DATAUNZIP_OK && closed != UNZ_OK)
            cause = DATAUNZIP_DATA_DAMAGED;
        return cause;
    }
};

dataunzip::dataunzip() : filecount(0), self(new state)
{
    memset(digestA, 0, sizeof digestA);
    memset(digestB, 0, sizeof digestB);
}

dataunzip::~dataunzip()
{
    closeunzipfile();
    delete self;
}

int32_t dataunzip::failure() const { return self->failure; }

void dataunzip::setreadahead(size_t pieces, size_t piecesize)
{
    self->aheadpieces = pieces;
    self->piecesize = piecesize > 0 ? piecesize : DATAUNZIP_PIECE_SIZE;
}

void dataunzip::unzipfopen(const char* path, char* computedA, char* computedB)
{
    closeunzipfile();
    stdiofile stream(fopen(path, "rb"));
    if (!stream) return;

    PackageTrailer trailer;
    int32_t t = findtrailer(stream.get(), trailer);
    // Digests go to local buffers first: a package that cannot be opened
    // leaves the caller's buffers untouched.
    char regionA[33], regionB[33];
    Md5Digest digest;
    bool readable =
        t >= 0 &&
        digest.digestregion(stream.get(), int32_t(trailer.offsetA), int32_t(trailer.offsetB - trailer.offsetA),
                            regionA) == 0 &&
        digest.digestregion(stream.get(), int32_t(trailer.offsetB), t - int32_t(trailer.offsetB), regionB) == 0;
    if (!readable) return;

    self->view = window();
    self->view.stream = stream.get();
    self->view.base = long(trailer.offsetA);
    self->view.size = long(trailer.offsetB - trailer.offsetA);
    zlib_filefunc64_def functions = packagewindow(&self->view);
    unzhandle handle(unzOpen2_64("", &functions));
    if (handle && unzGetGlobalInfo(handle.get(), &self->global) != UNZ_OK) handle.reset();
    // minizip takes an end record at position 0 for none at all, and that is
    // exactly where the end record of an archive without entries stands.
    if (!handle && !emptyarchive(self->view)) return;
    if (!handle) self->global.number_entry = 0;

    // The archive goes first when the reader closes: declared after the stream.
    self->stream = std::move(stream);
    self->handle = std::move(handle);
    self->trailerpos = t;
    self->offsetA = trailer.offsetA;
    self->offsetB = trailer.offsetB;
    memcpy(digestA, trailer.digestA, 32);
    memcpy(digestB, trailer.digestB, 32);
    memcpy(computedA, regionA, 33);
    memcpy(computedB, regionB, 33);
    filecount = uint32_t(self->global.number_entry);

    self->saveddir.save();
    _chdir(workspacedir().c_str());
    self->incurrent.clear();

    self->at = 0;
    self->headertaken = self->entrydone = false;
    self->advanced = 0;
    if (filecount > 0 && self->aheadpieces > 0) {
        self->ahead.reset(new inflateahead(self->handle.get(), 0, filecount, self->piecesize, self->aheadpieces));
        // Without a thread everything is read here.
        if (!self->ahead->started()) self->ahead.reset();
    }
}

int32_t dataunzip::readcurfile(char* name)
{
    self->closeentry();
    self->entryname[0] = 0;
    name[0] = 0;
    if (!self->handle) return self->fail(DATAUNZIP_NOT_OPEN);
    if (self->ahead && self->headertaken) self->stopahead();
    if (self->ahead) return self->takeheader(name);
    if (unzGetCurrentFileInfo(self->handle.get(), &self->current, name, NAME_SIZE, nullptr, 0, nullptr, 0) != UNZ_OK) {
        name[0] = 0;
        return self->fail(DATAUNZIP_NO_INFO);
    }
    // minizip leaves a name of 512 bytes or more unterminated.
    name[NAME_SIZE - 1] = 0;
    if (self->current.size_filename >= uLong(NAME_SIZE) || !safeentryname(name))
        return self->fail(DATAUNZIP_UNSAFE_NAME);
    if (self->current.flag & 1) return self->fail(DATAUNZIP_ENCRYPTED);
    if (unzOpenCurrentFile(self->handle.get()) != UNZ_OK) return self->fail(DATAUNZIP_OPEN_FAILED);
    self->entryopen = true;
    memcpy(self->entryname, name, NAME_SIZE);
    self->failure = DATAUNZIP_OK;
    return 0;
}

int32_t dataunzip::filewrite(const char* name, const char* target)
{
    // Each _chdir is a trip to the file system: the target stays current
    // from one entry to the next, since only this reader moves it meanwhile.
    if (target && self->incurrent != target) {
        _chdir(target);
        self->incurrent = target;
    }
    if (!self->entryopen || !name || strcmp(name, self->entryname) != 0) {
        self->closeentry();
        return self->fail(DATAUNZIP_NOT_OPEN);
    }

    // Directories are created relative to the target, so the current
    // directory never wanders into the entry's path.
    std::string here = target ? target : "";
    if (here != self->madein) {
        self->made.clear();
        self->madein = here;
    }
    std::string prefix;
    for (size_t i = 0; name[i];) {
        size_t next = nextchar(name, i);
        if (next == i + 1 && isseparator(name[i]) && self->made.insert(prefix).second) _mkdir(prefix.c_str());
        prefix.append(name + i, next - i);
        i = next;
    }

    stdiofile out(fopen(name, "wb"));
    if (!out) {
        logline("dataunzip", "dataunzip::filewrite", 231, "fopen %s filename failed!\n", name);
        self->closeentry();
        return self->fail(DATAUNZIP_CREATE_FAILED);
    }

    int32_t cause = self->ahead ? self->copyahead(out.get()) : self->copyhere(out.get());
    self->entryopen = false;
    if (fflush(out.get()) != 0 && cause == DATAUNZIP_OK) cause = DATAUNZIP_WRITE_FAILED;
    // Closed here, not by the owner: a failed close is a failed write.
    if (closechecked(out) != 0 && cause == DATAUNZIP_OK) cause = DATAUNZIP_WRITE_FAILED;
    if (cause != DATAUNZIP_OK) {
        // A damaged entry must not pass for the real file.
        remove(name);
        return self->fail(cause);
    }
    self->failure = DATAUNZIP_OK;
    return 0;
}

int32_t dataunzip::gotonextfile(uint32_t index)
{
    self->closeentry();
    if (!self->handle || filecount == 0 || index >= filecount - 1) return 0;
    if (self->ahead) {
        self->finishentry();
        if (self->advanced != 0) return -1;
        ++self->at;
        self->headertaken = self->entrydone = false;
        return 0;
    }
    return unzGoToNextFile(self->handle.get()) == UNZ_OK ? 0 : -1;
}

void dataunzip::closeunzipfile()
{
    // The thread reads the archive: it goes first.
    self->ahead.reset();
    self->closeentry();
    self->handle.reset();
    self->stream.reset();
    self->saveddir.restore();
    self->incurrent.clear();
    self->buffer.reset();
}
