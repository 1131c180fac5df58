// The bounded view of a package that minizip reads an archive through:
// bytes [base, base + size) of the open package file as positions [0, size),
// so minizip sees one archive and nothing of the regions around it. The
// installer's reader and the package inspector both read through it.
#pragma once

#include <ioapi.h>

#include <cstdio>
#include <vector>

// The zip64 locator holds an offset relative to the archive's first byte, so
// the archive must start at position 0 of the view. minizip seeks and tells
// around every small read, and each of those is a trip to the system: the
// view keeps its own position and serves reads from two cached blocks, one
// for the central directory it walks and one for the entry it inflates.
struct packageviewblock {
    std::vector<unsigned char> bytes;
    long start = 0;
    long length = 0;
    unsigned long used = 0;
};

struct packageview {
    FILE* stream = nullptr; // the package, owned by the caller
    long base = 0;          // the archive's first byte in the package
    long size = 0;          // the archive's length
    long pos = 0;
    bool failed = false;
    packageviewblock blocks[2];
    unsigned long clock = 0;
};

// minizip's 64-bit I/O function table over view (which must outlive the
// archive opened through it); the stream is never closed through it.
zlib_filefunc64_def packagewindow(packageview* view);
// True when the view holds an end record without entries and nothing else:
// minizip takes an end record at position 0 for none at all, and that is
// exactly where the end record of an archive without entries stands.
bool emptyarchive(packageview& view);
