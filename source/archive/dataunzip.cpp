#include "dataunzip.h"

#include "entryname.h"
#include "platform.h"
#include "handles.h"
#include "inflateahead.h"
#include "linkcheck.h"
#include "logline.h"
#include "md5digest.h"
#include "packageview.h"
#include "packagetrailer.h"
#include "pathhelpers.h"

#include <unzip.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const int32_t NAME_SIZE = ENTRY_NAME_SIZE;
static_assert(NAME_SIZE == int32_t(INFLATEAHEAD_NAME_SIZE), "one name buffer size");

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

// Opens name (relative to the current directory) for writing from its first
// byte: a new file, or an existing plain file that has no second name,
// emptied. Null when it cannot be opened or is a link of either kind.
FILE* createoutput(const char* name)
{
    std::wstring wide = ansitowide(name);
    filehandle file(platform.createfile(wide.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
    // Checked on the handle that is written through, not on the name before.
    if (!file || !isplain(file.get(), wide, std::wstring()) || !SetEndOfFile(file.get())) return nullptr;
    return crtfile(file, "wb");
}

// An archive opened with unzOpen2_64.
using unzhandle = uniquehandle<unzFile, unzClose, emptynull>;

} // namespace

bool safeentryname(const char* name) { return safeentryname(name, ansileadbyte); }

int32_t openinstallerentry(unzFile archive, entryrecord& entry, char* name)
{
    name[0] = 0;
    int32_t result = readentryrecord(archive, entry);
    if (result != ENTRY_OK) return result;
    // A name too long for the buffer is delivered cut, and refused.
    size_t length = entry.name.size() < size_t(NAME_SIZE) ? entry.name.size() : size_t(NAME_SIZE - 1);
    memcpy(name, entry.name.data(), length);
    name[length] = 0;
    if (entry.name.size() >= size_t(NAME_SIZE) || !safeentryname(name)) return ENTRY_UNSAFE_NAME;
    return openentrydata(archive, entry);
}

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
    // Directories this reader made or found below madein, or found to be
    // links: most entries share their parents, and every directory made is a trip
    // to the file system.
    std::string madein;
    enum { DIRECTORY_NEW, DIRECTORY_FOUND, DIRECTORY_LINK };
    std::map<std::string, int> made;
    linkcheck links;
    bool linksready = false;
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

    // Creates the directory prefix (relative to the target) unless it
    // exists; false when it is a link, or lies behind one.
    bool makedirectory(const std::string& prefix)
    {
        auto known = made.find(prefix);
        if (known != made.end()) return known->second != DIRECTORY_LINK;
        int state = DIRECTORY_LINK;
        std::wstring wide = ansitowide(prefix);
        if (links.plainornew(wide)) state = platform.createdirectory(wide.c_str()) ? DIRECTORY_NEW : DIRECTORY_FOUND;
        made[prefix] = state;
        return state != DIRECTORY_LINK;
    }

    // True when name may be created: nothing on its way is a link, and the
    // file is none either. A directory this reader has just made holds
    // nothing it did not write itself.
    bool plainentry(const std::string& directory, const char* name)
    {
        auto known = made.find(directory);
        if (known != made.end() && known->second == DIRECTORY_NEW) return true;
        return links.plainornew(ansitowide(name));
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

    // Writes the inflated entry to out: a ENTRY_ value.
    int32_t copyahead(FILE* out)
    {
        for (;;) {
            const inflatedpiece* piece = ahead->next();
            if (!piece || piece->entry != at) return ENTRY_DATA_DAMAGED;
            if (!writeall(out, piece->data, piece->length)) return ENTRY_WRITE_FAILED;
            int32_t cause = piece->cause;
            if (consume(piece)) return cause;
        }
    }

    // The same, inflating here.
    int32_t copyhere(FILE* out)
    {
        if (!buffer) buffer.reset(static_cast<char*>(malloc(piecesize)));
        copytarget target{this, out};
        size_t last = 0;
        int32_t cause =
            inflateentry(handle.get(), current, entryoutput{&target, copytarget::next, copytarget::write}, &last);
        entryopen = false;
        if (!writeall(out, buffer.get(), last) && cause == ENTRY_OK) cause = ENTRY_WRITE_FAILED;
        return cause;
    }

    // The output file of copyhere, filled through the reader's one buffer.
    struct copytarget {
        state* self;
        FILE* out;
        static char* next(void* target, size_t* size)
        {
            state* self = static_cast<copytarget*>(target)->self;
            *size = self->piecesize;
            return self->buffer.get();
        }
        static bool write(void* target, size_t length)
        {
            copytarget* t = static_cast<copytarget*>(target);
            return writeall(t->out, t->self->buffer.get(), length);
        }
    };
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
    self->incurrent.clear();

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
    // Each change of directory is a trip to the file system: the target stays current
    // from one entry to the next, since only this reader moves it meanwhile.
    if (target && self->incurrent != target) {
        // Relative names must not land in whatever directory is current instead.
        if (!platform.changedirectory(target)) {
            self->incurrent.clear();
            self->closeentry();
            return self->fail(ENTRY_WRITE_FAILED);
        }
        self->incurrent = target;
    }
    if (!self->entryopen || !name || strcmp(name, self->entryname) != 0) {
        self->closeentry();
        return self->fail(ENTRY_NOT_OPEN);
    }

    // Directories are created relative to the target, so the current
    // directory never wanders into the entry's path.
    std::string here = target ? target : "";
    if (here != self->madein || !self->linksready) {
        self->made.clear();
        self->madein = here;
        self->links = linkcheck(ansitowide(target ? here : "."));
        self->linksready = true;
    }
    // Nothing is written through a link: not into a directory on the way
    // that is one (a leftover that could not be removed), not over a file
    // that is one.
    bool throughlink = false;
    std::string prefix, directory;
    for (size_t i = 0; name[i] && !throughlink;) {
        size_t next = nextchar(name, i);
        if (next == i + 1 && isseparator(name[i])) {
            throughlink = !self->makedirectory(prefix);
            directory = prefix;
        }
        prefix.append(name + i, next - i);
        i = next;
    }
    if (!throughlink) throughlink = !self->plainentry(directory, name);

    stdiofile out(throughlink ? nullptr : createoutput(name));
    if (!out) {
        logline("dataunzip", "dataunzip::filewrite", 231, "fopen %s filename failed!\n", name);
        self->closeentry();
        return self->fail(ENTRY_CREATE_FAILED);
    }

    int32_t cause = self->ahead ? self->copyahead(out.get()) : self->copyhere(out.get());
    self->entryopen = false;
    if (fflush(out.get()) != 0 && cause == ENTRY_OK) cause = ENTRY_WRITE_FAILED;
    // Closed here, not by the owner: a failed close is a failed write.
    if (closechecked(out) != 0 && cause == ENTRY_OK) cause = ENTRY_WRITE_FAILED;
    if (cause != ENTRY_OK) {
        // A damaged entry must not pass for the real file.
        remove(name);
        return self->fail(cause);
    }
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
    self->incurrent.clear();
    self->buffer.reset();
}
