#include "dataunzip.h"

#include "entryname.h"
#include "handles.h"
#include "inflateahead.h"
#include "installerentry.h"
#include "installsink.h"
#include "logline.h"
#include "md5digest.h"
#include "packageview.h"
#include "packagetrailer.h"
#include "pathhelpers.h"
#include "platform.h"

#include <unzip.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const int32_t NAME_SIZE = ENTRY_NAME_SIZE;
static_assert(NAME_SIZE == int32_t(INFLATEAHEAD_NAME_SIZE), "one name buffer size");

// An archive opened with unzOpen2_64.
using unzhandle = uniquehandle<unzFile, unzClose, emptynull>;

} // namespace

struct dataunzip::state {
    // Declared in the order they are released: the archive before the file
    // it reads, then the saved directory is made current again.
    savedcurrentdirectory saveddir;
    stdiofile stream;
    unzhandle handle;
    packageview view;
    unz_global_info global = {};
    entryrecord current;
    int32_t trailerpos = -1;
    uint32_t offsetA = 0;
    uint32_t offsetB = 0;
    // The entry readcurfile opened, until filewrite or gotonextfile consumes it.
    bool entryopen = false;
    char entryname[NAME_SIZE] = {};
    int32_t failure = ENTRY_OK;
    crtbuffer<char> buffer;
    // Where the entries go: files below the target.
    installsink output;

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
        if (!piece || piece->entry != at || !piece->first) return fail(ENTRY_NO_INFO);
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
        failure = ENTRY_OK;
        return 0;
    }

    // Hands the inflated entry to the output: a ENTRY_ value.
    int32_t copyahead()
    {
        for (;;) {
            const inflatedpiece* piece = ahead->next();
            if (!piece || piece->entry != at) return ENTRY_DATA_DAMAGED;
            if (!output.data(reinterpret_cast<const unsigned char*>(piece->data), piece->length))
                return ENTRY_WRITE_FAILED;
            int32_t cause = piece->cause;
            if (consume(piece)) return cause;
        }
    }

    // The same, inflating here.
    int32_t copyhere()
    {
        if (!buffer) buffer.reset(static_cast<char*>(malloc(piecesize)));
        size_t last = 0;
        int32_t cause = inflateentry(handle.get(), current, entryoutput{this, nextbuffer, filledbuffer}, &last);
        entryopen = false;
        if (!filledbuffer(this, last) && cause == ENTRY_OK) cause = ENTRY_WRITE_FAILED;
        return cause;
    }

    // copyhere inflates into the reader's one buffer and hands each one
    // filled to the output.
    static char* nextbuffer(void* self, size_t* size)
    {
        *size = static_cast<state*>(self)->piecesize;
        return static_cast<state*>(self)->buffer.get();
    }
    static bool filledbuffer(void* self, size_t length)
    {
        state* s = static_cast<state*>(self);
        return s->output.data(reinterpret_cast<const unsigned char*>(s->buffer.get()), length);
    }
};

dataunzip::dataunzip() : filecount(0), self(std::make_unique<state>())
{
    memset(digestA, 0, sizeof digestA);
    memset(digestB, 0, sizeof digestB);
}

dataunzip::~dataunzip() { closeunzipfile(); }

int32_t dataunzip::failure() const { return self->failure; }

void dataunzip::setreadahead(size_t pieces, size_t piecesize)
{
    self->aheadpieces = pieces;
    self->piecesize = piecesize > 0 ? piecesize : DATAUNZIP_PIECE_SIZE;
}

void dataunzip::unzipfopen(const char* path, char* computedA, char* computedB)
{
    closeunzipfile();
    openpackage(fopen(path, "rb"), computedA, computedB);
}

void dataunzip::unzipfopen(const wchar_t* path, char* computedA, char* computedB)
{
    closeunzipfile();
    openpackage(_wfopen(path, L"rb"), computedA, computedB);
}

void dataunzip::unzipfopen(FILE* package, char* computedA, char* computedB)
{
    closeunzipfile();
    openpackage(package, computedA, computedB);
}

void dataunzip::openpackage(FILE* package, char* computedA, char* computedB)
{
    stdiofile stream(package);
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

    self->view = packageview();
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

    // Entries are written relative to WorkspaceDir: where it cannot be made
    // current, they would land wherever the current directory is.
    self->saveddir.save();
    if (!platform.changedirectory(workspacedir().c_str())) {
        self->saveddir.restore();
        return;
    }

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
    self->output.leave();

    self->at = 0;
    self->headertaken = self->entrydone = false;
    self->advanced = 0;
    if (filecount > 0 && self->aheadpieces > 0) {
        self->ahead =
            std::make_unique<inflateahead>(self->handle.get(), 0, filecount, self->piecesize, self->aheadpieces);
        // Without a thread everything is read here.
        if (!self->ahead->started()) self->ahead.reset();
    }
}

int32_t dataunzip::readcurfile(char* name)
{
    self->closeentry();
    self->entryname[0] = 0;
    name[0] = 0;
    if (!self->handle) return self->fail(ENTRY_NOT_OPEN);
    if (self->ahead && self->headertaken) self->stopahead();
    if (self->ahead) return self->takeheader(name);
    int32_t result = openinstallerentry(self->handle.get(), self->current, name);
    if (result != ENTRY_OK) return self->fail(result);
    self->entryopen = true;
    memcpy(self->entryname, name, NAME_SIZE);
    self->failure = ENTRY_OK;
    return 0;
}

int32_t dataunzip::filewrite(const char* name, const char* target)
{
    if (!self->output.enter(target)) {
        self->closeentry();
        return self->fail(ENTRY_WRITE_FAILED);
    }
    if (!self->entryopen || !name || strcmp(name, self->entryname) != 0) {
        self->closeentry();
        return self->fail(ENTRY_NOT_OPEN);
    }
    if (!self->output.begin(self->current)) {
        logline("dataunzip", "dataunzip::filewrite", 231, "fopen %s filename failed!\n", name);
        self->closeentry();
        return self->fail(ENTRY_CREATE_FAILED);
    }
    int32_t cause = self->ahead ? self->copyahead() : self->copyhere();
    self->entryopen = false;
    cause = self->output.end(cause);
    if (cause != ENTRY_OK) return self->fail(cause);
    self->failure = ENTRY_OK;
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
    self->output.leave();
    self->buffer.reset();
}
