// The package inspector's reading of a package: the trailer, both digests as
// the installer computes them, and both archives read through minizip over a
// window bounded to each archive's region. No platform header: it builds
// natively (tests, fuzzing) and for Windows.
#pragma once

#include "entryname.h"
#include "entryreader.h"
#include "entrysink.h"
#include "packagetrailer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Results of inspect operations and the inspector's exit codes.
const int INSPECT_SOUND = 0;      // nothing found
const int INSPECT_FINDINGS = 1;   // the package is readable but not sound
const int INSPECT_UNREADABLE = 2; // the file cannot be read as a package

// An entry as the inspector lists it: its central-directory record. What
// became of it when its data were read is an ENTRY_ value (entryreader.h).
using inspectedentry = entryrecord;

struct inspectedarchive {
    const char* top = "";  // its tree (packagerules.h): every name's first component
    uint32_t start = 0;    // absolute offset in the package
    uint32_t length = 0;   // bytes of the region
    bool opened = false;   // minizip found its end of central directory
    uint64_t recorded = 0; // entries the end record announces
    bool complete = false; // every central-directory record was read
    std::vector<inspectedentry> entries;
};

struct inspectedpackage {
    long long filesize = 0;
    int32_t searchend = 0;   // where the marker search starts
    bool signature = false;  // a certificate table ends the file
    int32_t distance = 0;    // the marker's position back from searchend; 0: none
    int32_t trailerpos = -1; // T; -1 when the trailer is invalid
    PackageTrailer trailer = {};
    char computedA[33] = {}; // digests as the installer computes them
    char computedB[33] = {};
    inspectedarchive a, b;
};

// One finding of verify or extract: archive ('A', 'B' or 0 for the
// package), the entry's name as stored (empty for none) and what is wrong.
struct finding {
    char archive;
    std::string name;
    std::string text;
    std::string other = {}; // another entry's name as stored, shown after text (empty for none)
};

// A package open for inspection. The stream stays the caller's.
class packageinspector {
public:
    // Reads trailer, digests and both central directories of the package in
    // stream. INSPECT_UNREADABLE when the file cannot be measured or has no
    // trailer marker, else INSPECT_SOUND (findings come from verify).
    int open(FILE* stream);
    const inspectedpackage& package() const { return info; }

    // Judges the package as the installer would, and reads every entry of
    // both archives to check its size and CRC-32, names read in codepage.
    // Appends one finding for each thing that keeps the package from being
    // installed or extracted exactly as listed: an unreadable archive or
    // entry, a digest mismatch, a name the installer refuses or the code page
    // cannot hold, two names for one file (repeated, or differing only in
    // case), a file where a directory is needed, entries whose data overlap,
    // no setup program. INSPECT_SOUND when there is none, INSPECT_FINDINGS
    // otherwise.
    int verify(int codepage, std::vector<finding>& findings);

    // The same as verify, handing each entry whose name passes the
    // installer's rule to sink as it is read: findings as verify reports
    // them, and the sink's own. INSPECT_SOUND when there is none.
    int extract(int codepage, entrysink* sink, std::vector<finding>& findings);

    // Reads every entry of archive which ('A' or 'B') and hands the safe ones
    // to sink; one finding for the archive when it cannot be read whole, one
    // per entry that cannot be read or is refused, one per entry whose data
    // overlap another's. INSPECT_SOUND when every entry was delivered whole
    // and there is no finding, else INSPECT_FINDINGS.
    int readarchive(char which, leadbytetest islead, entrysink* sink, std::vector<finding>& findings);

private:
    int check(int codepage, entrysink* sink, std::vector<finding>& findings);

    FILE* stream = nullptr;
    inspectedpackage info;
};

// The message for an ENTRY_ result.
const char* entryresulttext(int result);
