// Directory tree walks: zipping every file below a directory, and deleting a
// directory with everything in it.
#pragma once

#include <string>

class datazip;

class filelist {
public:
    // Adds every file below directory to archive, depth first in listing
    // order, entry names starting with directory. False when the directory
    // cannot be listed or any file could not be added completely.
    bool GetAllFileInfoAndZip(const char* directory, datazip& archive);
    // Deletes path and everything below it; entries that cannot be deleted
    // stay, with the directories above them. False when path cannot be listed.
    static bool deletepath(std::string path);
};
