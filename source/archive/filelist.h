// Directory tree walks: zipping every file below a directory, and deleting a
// directory with everything in it.
#pragma once

#include "linkcheck.h"

#include <string>

#include <cstdint>
#include <vector>

class datazip;

// One step of a depth-first tree walk, in the order an archive receives it.
struct treestep {
    enum kindtype { FILE_ENTRY, DIRECTORY_END, UNLISTABLE, LOOP, CASE_TWIN } kind;
    // the file, the directory (ending in '\\'), for LOOP the directory met
    // again, for CASE_TWIN the file or directory left out
    std::string path;
    uint64_t size = 0; // FILE_ENTRY: its size in bytes
    std::string again; // LOOP: the directory of the walk it is the same as; CASE_TWIN: the name met first
};

class filelist {
public:
    // Lists directory depth first in listing order. Links are followed, but a
    // directory that is one the walk is already inside (a link to an ancestor,
    // or any cycle of links) ends the listing with a LOOP step. A name that
    // differs only in case from one met before in its directory (a
    // case-sensitive directory) gets a CASE_TWIN step instead of its own.
    static std::vector<treestep> listtree(const std::string& directory);
    // Adds every file below directory to archive, depth first in listing
    // order, entry names starting with directory. False when the directory
    // cannot be listed, any file could not be added completely, two names
    // differ only in case (the later is not added) or the tree has a loop
    // (then nothing after the loop is added).
    bool GetAllFileInfoAndZip(const char* directory, datazip& archive);
    // Deletes path and everything below it; entries that cannot be deleted,
    // or that allowed (when given) does not let go, stay, with the
    // directories above them. parent is path's directory, held open (null:
    // unknown). False when path cannot be listed.
    static bool deletepath(std::string path, deletecheck allowed = nullptr, HANDLE parent = nullptr);
};
