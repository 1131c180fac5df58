#include "filelist.h"

#include "datazip.h"
#include "logline.h"

#include <direct.h>
#include <io.h>

#include <cstdio>

namespace {

const unsigned SUBDIRECTORY = 0x10;

bool isdots(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

} // namespace

bool filelist::GetAllFileInfoAndZip(const char* directory, datazip& archive)
{
    std::string pattern = std::string(directory) + "\\*";
    _finddata_t found;
    intptr_t listing = _findfirst(pattern.c_str(), &found);
    if (listing == -1) {
        logline("filelist", "filelist::GetAllFileInfoAndZip", 29, "Cannot get handle for file %s\n", directory);
        return false;
    }
    bool complete = true;
    do {
        if (isdots(found.name)) continue;
        std::string path = std::string(directory) + "\\" + found.name;
        if (found.attrib & SUBDIRECTORY) {
            if (!GetAllFileInfoAndZip(path.c_str(), archive)) complete = false;
            path += "\\";
        }
        if (!archive.putfileinzip(path.c_str())) complete = false;
        logline("filelist", "filelist::GetAllFileInfoAndZip", 42, "%s\n", path.c_str());
    } while (_findnext(listing, &found) == 0);
    _findclose(listing);
    return complete;
}

bool filelist::deletepath(std::string path)
{
    logline("filelist", "filelist::deletepath", 85, "path name is <%s>\n", path.c_str());
    std::string pattern = path + "\\*";
    _finddata_t found;
    intptr_t listing = _findfirst(pattern.c_str(), &found);
    if (listing == -1) {
        logline("filelist", "filelist::deletepath", 87, "Cannot get handle for file %s\n", pattern.c_str());
        return false;
    }
    do {
        if (isdots(found.name)) continue;
        std::string entry = path + "\\" + found.name;
        // Whatever cannot be deleted stays, and with it the directories above.
        if (found.attrib & SUBDIRECTORY) deletepath(entry);
        else remove(entry.c_str());
    } while (_findnext(listing, &found) == 0);
    _findclose(listing);
    _rmdir(path.c_str());
    return true;
}
