// The installer's view of its own package: finds the trailer, digests both
// archive regions and reads archive A in place through a bounded window,
// inflating ahead on a second thread (inflateahead.h). Entries stream from
// the archive to the installer's output (installsink.h), which decides what
// they become on disk; none is held whole in memory.
#pragma once

#include "entryreader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Why an entry failed is an ENTRY_ value of the entry reader.
// Inflated bytes handed to the output file at a time, and how many such
// pieces may wait inflated ahead of the writer.
const size_t DATAUNZIP_PIECE_SIZE = 65536;
const size_t DATAUNZIP_AHEAD_PIECES = 8;

class dataunzip {
public:
    dataunzip();
    ~dataunzip();
    dataunzip(const dataunzip&) = delete;
    dataunzip& operator=(const dataunzip&) = delete;

    // Opens the package at path: finds the trailer, digests archive A into
    // computedA and archive B into computedB (each at least 33 bytes), opens
    // archive A and makes WorkspaceDir the current directory. On failure the
    // reader stays closed, filecount is 0 and the buffers are untouched.
    void unzipfopen(const char* path, char* computedA, char* computedB);
    // The same for a package named by a wide path.
    void unzipfopen(const wchar_t* path, char* computedA, char* computedB);
    // The same for a package already open for reading, which the reader
    // takes over (and closes, also when the open fails).
    void unzipfopen(FILE* package, char* computedA, char* computedB);
    // Reads the current entry's name into name (512 bytes, zero-terminated)
    // and opens the entry. 0, or -1 when its information cannot be read, its
    // name is unsafe (see safeentryname) or it cannot be opened.
    int32_t readcurfile(char* name);
    // Streams the entry opened by readcurfile to target\name (target null:
    // the current directory), creating the directories of its path; name must
    // be the one readcurfile delivered. 0 when
    // the file is complete and its CRC-32 matches; -1 otherwise, and then no
    // file is left under the name. The current directory is target afterwards.
    int32_t filewrite(const char* name, const char* target);
    // Moves to the next entry unless index is the last one. 0, or -1 when
    // moving failed.
    int32_t gotonextfile(uint32_t index);
    // Closes the archive and the package and restores the saved directory.
    void closeunzipfile();
    // How far a second thread may inflate ahead of filewrite: at most pieces
    // buffers of piecesize bytes (pieces 0: everything is read on the calling
    // thread). Takes effect at the next unzipfopen; the default is
    // DATAUNZIP_AHEAD_PIECES of DATAUNZIP_PIECE_SIZE. Ahead or not, the same
    // files, results and lines come out in the same order.
    void setreadahead(size_t pieces, size_t piecesize);
    // Why the last readcurfile or filewrite failed (an ENTRY_ value);
    // ENTRY_OK after one that succeeded.
    int32_t failure() const;

    // Entries of archive A; 0 until an open succeeds.
    uint32_t filecount;
    // The digests stored in the trailer (32 characters each, no terminator
    // needed by users, who compare exactly 32 bytes).
    char digestA[64];
    char digestB[64];

private:
    // unzipfopen on a package already open for reading (taken over).
    void openpackage(FILE* package, char* computedA, char* computedB);

    struct state;
    std::unique_ptr<state> self;
};
