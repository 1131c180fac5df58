// ZIP archive writer over minizip: one archive at a time, every file
// deflated at level 9, entries without time stamps.
#pragma once

#include "owners.h"

#include <cstdint>

struct deflatedfile;

class datazip {
public:
    // filename may be null; set it later with setfilename.
    explicit datazip(const char* filename = nullptr);
    ~datazip();
    datazip(const datazip&) = delete;
    datazip& operator=(const datazip&) = delete;

    // Names the archive file for the next zipfopen. The caller owns the text.
    void setfilename(const char* filename);
    // Creates (or truncates) the archive file. True when it was created.
    bool zipfopen();
    // Adds one file; leading separators are not part of the entry name, and a
    // path ending in a separator adds nothing. False when the entry could not
    // be started, the source file could not be opened or read completely, or
    // writing failed; true otherwise.
    bool putfileinzip(const char* path);
    // Adds one file whose data were already deflated (see deflateahead): the
    // same entry putfileinzip would write. Same results and lines.
    bool putdeflated(const char* path, const deflatedfile& file);
    // Writes the central directory and closes the archive. True on success.
    bool closezipfile();
    // 1 when the file's size cannot be represented as a signed 32-bit
    // position (2 GiB or more), else 0; 0 without a line when it cannot be opened.
    static int isLargeFile(const char* path);

    // The last minizip result, or -1 after a failure of this class's own.
    int32_t errorcode() const { return error; }

private:
    // Finishes an archive left open, which would otherwise miss its central directory.
    static void finisharchive(void* archive);

    uniquehandle<void*, finisharchive, emptynull> handle;
    const char* filename;
    int32_t error;
    int32_t readsize;
};
