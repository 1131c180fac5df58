#include "datazip.h"

#include "deflateahead.h"
#include "entryname.h"
#include "entrysettings.h"
#include "handles.h"
#include "logline.h"

#include <windows.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int32_t READ_SIZE = 16384;

const char* const PUT_FUNCTION = "datazip::putfileinzip";

// Names reach the writer in the ANSI code page.
bool ansileadbyte(unsigned char byte) { return IsDBCSLeadByte(BYTE(byte)) != 0; }

// The size line of a file.
void logsize(const char* path, long long size)
{
    // %I64d: the %lld of Windows XP's C runtime.
    logline("datazip", "datazip::isLargeFile", 104, "File : %s is %I64d bytes\n", path, size);
}

// The entry name for path: leading separators are not part of it. Null for a
// directory (a name that ends with a separator), which gets no entry.
const char* entrynamefor(const char* path)
{
    const char* name = path;
    while (isseparator(*name)) ++name;
    return endswithseparator(name, ansileadbyte) ? nullptr : name;
}

// Writes size bytes into the open entry; false, with its line, when minizip
// fails, and error then holds minizip's result.
bool writeinzip(void* handle, const char* name, const void* data, size_t size, int32_t& error)
{
    int written = zipWriteInFileInZip(handle, data, unsigned(size));
    if (written >= 0) return true;
    error = written;
    logline("datazip", PUT_FUNCTION, 65, "err in writing %s in the zipfile\n", name);
    return false;
}

// Starts an entry (packagerules.h: text, raw as startpackageentry takes
// them); false, with its line, when minizip refuses it.
bool startentry(void* handle, const char* name, bool text, int raw, int32_t& error)
{
    error = startpackageentry(handle, name, text, raw);
    if (error == ZIP_OK) return true;
    logline("datazip", PUT_FUNCTION, 46, "err in opening %s in zipfile\n", name);
    return false;
}

// Finishes an entry (raw: with the size and CRC-32 the data had before they
// were deflated); minizip's result, with its line when not ZIP_OK.
int finishentry(void* handle, const char* name, const deflatedfile* raw)
{
    int closed = raw ? zipCloseFileInZipRaw(handle, raw->size, raw->crc) : zipCloseFileInZip(handle);
    if (closed != ZIP_OK) logline("datazip", PUT_FUNCTION, 79, "error in closing %s in the zipfile!\n", name);
    return closed;
}

} // namespace

datazip::datazip(const char* filename) : filename(filename), error(0), readsize(READ_SIZE) {}

datazip::~datazip() = default;

void datazip::finisharchive(void* archive) { zipClose(archive, nullptr); }

void datazip::setfilename(const char* name) { filename = name; }

bool datazip::zipfopen()
{
    handle.reset(filename ? zipOpen(filename, APPEND_STATUS_CREATE) : nullptr);
    if (!handle) {
        logline("datazip", "datazip::zipfopen", 16, "Error opening %s\n", filename ? filename : "");
        error = -1;
        return false;
    }
    error = 0;
    return true;
}

bool datazip::closezipfile()
{
    // zipClose rejects a null handle, which reports the failed open here.
    int result = zipClose(handle.release(), nullptr);
    const char* name = filename ? filename : "";
    if (result != ZIP_OK) {
        logline("datazip", "datazip::closezipfile", 88, "error in closing %s\n", name);
        return false;
    }
    logline("datazip", "datazip::closezipfile", 91, "zipfile %s is closed\n", name);
    return true;
}

int datazip::isLargeFile(const char* path)
{
    stdiofile file(fopen(path, "rb"));
    if (!file) return 0;
    // Measured with 64 bits: the runtime's 32-bit ftell wraps at 2 GiB and
    // reports a 4 GiB file as empty.
    long long size = _fseeki64(file.get(), 0, SEEK_END) == 0 ? _ftelli64(file.get()) : -1;
    logsize(path, size);
    return size < 0 || uint64_t(size) >= PACKAGE_SIZE_LIMIT ? 1 : 0;
}

bool datazip::putfileinzip(const char* path)
{
    isLargeFile(path);
    const char* name = entrynamefor(path);
    if (!name) return true;

    // The source is opened before the entry is started, so a file that cannot
    // be read leaves no empty entry behind under its name.
    stdiofile source(fopen(name, "rb"));
    if (!source) {
        logline("datazip", PUT_FUNCTION, 50, "error in opening %s\n", name);
        error = -1;
        return false;
    }
    if (!startentry(handle.get(), name, false, 0, error)) return false;

    std::vector<char> buffer(static_cast<size_t>(readsize));
    size_t got = 0;
    do {
        error = 0;
        got = fread(buffer.data(), 1, buffer.size(), source.get());
        if (got < buffer.size() && !feof(source.get())) {
            logline("datazip", PUT_FUNCTION, 59, "error in reading %s\n", name);
            error = -1;
        }
        if (got > 0 && !writeinzip(handle.get(), name, buffer.data(), got, error)) return false;
    } while (error == 0 && got > 0);
    source.reset();

    int closed = finishentry(handle.get(), name, nullptr);
    if (error < 0) {
        // The entry holds only part of the file: the caller must not ship it.
        error = -1;
        return false;
    }
    error = closed;
    return closed == ZIP_OK;
}

bool datazip::putdeflated(const char* path, const deflatedfile& file)
{
    // The size line gives the size that was read and compressed, without
    // opening the file again.
    logsize(path, file.size);
    const char* name = entrynamefor(path);
    if (!name) return true;

    // raw: the data go in as they are; the level still marks the entry as
    // maximally compressed. minizip would set the text flag from deflate's
    // own classification.
    if (!startentry(handle.get(), name, file.text, 1, error)) return false;
    if (!file.data.empty() && !writeinzip(handle.get(), name, file.data.data(), file.data.size(), error)) return false;
    int closed = finishentry(handle.get(), name, &file);
    error = closed;
    return closed == ZIP_OK;
}
