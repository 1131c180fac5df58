// The packer's tree walk on a POSIX file system: every file below a tree,
// depth first, with its entry name in the package's code page.
//
// Order: within a directory, names are compared as UTF-16 after each
// character is mapped to its simple uppercase form, code unit by code unit.
// Names equal that way (possible on Linux only) are refused: on Windows they
// name one file. A subdirectory's files stand at its place. That is the
// order NTFS keeps names in, and the order Wine lists them in, so the
// Windows builder walks the same tree the same way; it depends only on the
// names, so a tree packed twice, anywhere, gives the same archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct packfile {
    std::string path; // on disk, below the source directory
    std::string name; // entry name: "setup\dir\file", in the code page
    uint64_t size = 0;
};

// Names for the walk order as UTF-16 code units: false when name is not
// valid UTF-8.
bool sortkeyof(const std::string& name, std::u16string& key, std::u16string& exact);

// Results of walktree.
enum { WALK_OK = 0, WALK_REFUSED = -1, WALK_CODEPAGE = -2 };

// Appends the files below source/top to files in walk order, entry names
// beginning with top. A missing tree adds nothing. WALK_OK; WALK_CODEPAGE
// for a name the code page cannot hold; WALK_REFUSED for the rest of what
// the packer refuses (packagerules.h): a file of 2 GiB or more, a directory
// that leads back into the walk, a file or directory that cannot be read, a
// name Windows cannot hold or not in UTF-8, two names in one directory that
// differ only in case, anything but files and directories. The walk stops at
// the first; message names the file and says why.
int walktree(const std::string& source, const std::string& top, int codepage, std::vector<packfile>& files,
             std::string& message);
