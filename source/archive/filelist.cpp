#include "filelist.h"

#include "datazip.h"
#include "deflateahead.h"
#include "logline.h"

#include <direct.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const unsigned SUBDIRECTORY = 0x10;

bool isdots(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

// One step of the depth-first walk, in the order the archive receives it.
struct walkstep {
    enum { FILE_ENTRY, DIRECTORY_END, UNLISTABLE } kind;
    std::string path;
    uint64_t size;
};

void walk(const std::string& directory, std::vector<walkstep>& steps)
{
    _finddata_t found;
    intptr_t listing = _findfirst((directory + "\\*").c_str(), &found);
    if (listing == -1) {
        steps.push_back({walkstep::UNLISTABLE, directory, 0});
        return;
    }
    do {
        if (isdots(found.name)) continue;
        std::string path = directory + "\\" + found.name;
        if (found.attrib & SUBDIRECTORY) {
            walk(path, steps);
            steps.push_back({walkstep::DIRECTORY_END, path + "\\", 0});
        } else {
            steps.push_back({walkstep::FILE_ENTRY, path, uint64_t(found.size)});
        }
    } while (_findnext(listing, &found) == 0);
    _findclose(listing);
}

} // namespace

bool filelist::GetAllFileInfoAndZip(const char* directory, datazip& archive)
{
    // The tree is listed first, so the files can be compressed ahead on a
    // second thread while the archive is written in walk order.
    std::vector<walkstep> steps;
    walk(directory, steps);
    std::vector<std::string> files(steps.size());
    std::vector<uint64_t> sizes(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].kind != walkstep::FILE_ENTRY) continue;
        files[i] = steps[i].path;
        sizes[i] = steps[i].size;
    }
    deflateahead ahead(std::move(files), std::move(sizes));

    bool complete = true;
    for (size_t i = 0; i < steps.size(); ++i) {
        const walkstep& step = steps[i];
        if (step.kind == walkstep::UNLISTABLE) {
            logline("filelist", "filelist::GetAllFileInfoAndZip", 29, "Cannot get handle for file %s\n",
                    step.path.c_str());
            complete = false;
            continue;
        }
        deflatedfile deflated;
        bool added = step.kind == walkstep::FILE_ENTRY && ahead.take(i, deflated)
                         ? archive.putdeflated(step.path.c_str(), deflated)
                         : archive.putfileinzip(step.path.c_str());
        if (!added) complete = false;
        logline("filelist", "filelist::GetAllFileInfoAndZip", 42, "%s\n", step.path.c_str());
    }
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
        if (found.attrib & SUBDIRECTORY)
            deletepath(entry);
        else
            remove(entry.c_str());
    } while (_findnext(listing, &found) == 0);
    _findclose(listing);
    _rmdir(path.c_str());
    return true;
}
