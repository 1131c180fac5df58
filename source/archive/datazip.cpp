#include "datazip.h"

#include "deflateahead.h"
#include "entryname.h"
#include "logline.h"

#include <windows.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int32_t READ_SIZE = 16384;

bool isseparator(char c) { return c == '\\' || c == '/'; }

// Names reach the writer in the ANSI code page.
bool ansileadbyte(unsigned char byte) { return IsDBCSLeadByte(BYTE(byte)) != 0; }

} // namespace

datazip::datazip(const char* filename) : handle(nullptr), filename(filename), error(0), readsize(READ_SIZE) {}

datazip::~datazip()
{
    // An archive left open would miss its central directory; finish it.
    if (handle) zipClose(handle, nullptr);
}

void datazip::setfilename(const char* name) { filename = name; }

bool datazip::zipfopen()
{
    handle = filename ? zipOpen(filename, APPEND_STATUS_CREATE) : nullptr;
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
    int result = zipClose(handle, nullptr);
    handle = nullptr;
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
    FILE* file = fopen(path, "rb");
    if (!file) return 0;
    // Measured with 64 bits: the runtime's 32-bit ftell wraps at 2 GiB and
    // reports a 4 GiB file as empty.
    long long size = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
    logline("datazip", "datazip::isLargeFile", 104, "File : %s is %lld bytes\n", path, size);
    fclose(file);
    return size < 0 || size > 0x7FFFFFFFll ? 1 : 0;
}

bool datazip::putfileinzip(const char* path)
{
    const char* const FUNCTION = "datazip::putfileinzip";
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    isLargeFile(path);

    const char* name = path;
    while (isseparator(*name)) ++name;
    if (endswithseparator(name, ansileadbyte)) return true;

    // The source is opened before the entry is started, so a file that cannot
    // be read leaves no empty entry behind under its name.
    FILE* source = fopen(name, "rb");
    if (!source) {
        logline("datazip", FUNCTION, 50, "error in opening %s\n", name);
        error = -1;
        return false;
    }
    error = zipOpenNewFileInZip(handle, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9);
    if (error != ZIP_OK) {
        logline("datazip", FUNCTION, 46, "err in opening %s in zipfile\n", name);
        fclose(source);
        return false;
    }

    std::vector<char> buffer(static_cast<size_t>(readsize));
    size_t got = 0;
    do {
        error = 0;
        got = fread(buffer.data(), 1, buffer.size(), source);
        if (got < buffer.size() && !feof(source)) {
            logline("datazip", FUNCTION, 59, "error in reading %s\n", name);
            error = -1;
        }
        if (got > 0) {
            int written = zipWriteInFileInZip(handle, buffer.data(), unsigned(got));
            if (written < 0) {
                error = written;
                logline("datazip", FUNCTION, 65, "err in writing %s in the zipfile\n", name);
                fclose(source);
                return false;
            }
        }
    } while (error == 0 && got > 0);
    fclose(source);

    int closed = zipCloseFileInZip(handle);
    if (closed != ZIP_OK) logline("datazip", FUNCTION, 79, "error in closing %s in the zipfile!\n", name);
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
    const char* const FUNCTION = "datazip::putfileinzip";
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    // minizip would set this from deflate's own classification.
    info.internal_fa = file.text ? 1 : 0;
    isLargeFile(path);

    const char* name = path;
    while (isseparator(*name)) ++name;
    if (endswithseparator(name, ansileadbyte)) return true;

    // raw: the data go in as they are; level 9 still marks the entry as
    // maximally compressed.
    error = zipOpenNewFileInZip2(handle, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1);
    if (error != ZIP_OK) {
        logline("datazip", FUNCTION, 46, "err in opening %s in zipfile\n", name);
        return false;
    }
    if (!file.data.empty()) {
        int written = zipWriteInFileInZip(handle, file.data.data(), unsigned(file.data.size()));
        if (written < 0) {
            error = written;
            logline("datazip", FUNCTION, 65, "err in writing %s in the zipfile\n", name);
            return false;
        }
    }
    int closed = zipCloseFileInZipRaw(handle, file.size, file.crc);
    if (closed != ZIP_OK) logline("datazip", FUNCTION, 79, "error in closing %s in the zipfile!\n", name);
    error = closed;
    return closed == ZIP_OK;
}
