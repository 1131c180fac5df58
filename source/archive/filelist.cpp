#include "filelist.h"

#include "datazip.h"
#include "deflateahead.h"
#include "handles.h"
#include "logline.h"

#include <direct.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const unsigned SUBDIRECTORY = 0x10;
const unsigned REPARSE_POINT = 0x400;

bool isdots(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

// A directory the walk is inside. Its identity (volume and file index, read
// through any link) is taken only once the walk has passed a link: without
// links a tree cannot lead back into itself.
struct opendirectory {
    std::string path;
    bool known = false;
    bool readable = false;
    DWORD volume = 0;
    DWORD indexhigh = 0;
    DWORD indexlow = 0;

    bool identify()
    {
        if (known) return readable;
        known = true;
        // No access rights are needed to read the identity; backup semantics open a directory.
        filehandle directory(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        readable = directory && GetFileInformationByHandle(directory.get(), &information);
        if (readable) {
            volume = information.dwVolumeSerialNumber;
            indexhigh = information.nFileIndexHigh;
            indexlow = information.nFileIndexLow;
        }
        return readable;
    }

    bool same(const opendirectory& other) const
    {
        return volume == other.volume && indexhigh == other.indexhigh && indexlow == other.indexlow;
    }
};

// Walks the directory on top of open; false once a loop was met (the walk then stops).
bool walk(std::vector<opendirectory>& open, bool belowlink, std::vector<treestep>& steps)
{
    const std::string directory = open.back().path;
    if (belowlink && open.back().identify()) {
        for (size_t i = 0; i + 1 < open.size(); ++i) {
            if (open[i].identify() && open[i].same(open.back())) {
                steps.push_back({treestep::LOOP, directory, 0, open[i].path});
                return false;
            }
        }
    }
    _finddatai64_t found;
    findhandle listing(_findfirsti64((directory + "\\*").c_str(), &found));
    if (!listing) {
        steps.push_back({treestep::UNLISTABLE, directory, 0, std::string()});
        return true;
    }
    bool noloop = true;
    do {
        if (isdots(found.name)) continue;
        std::string path = directory + "\\" + found.name;
        if (found.attrib & SUBDIRECTORY) {
            open.push_back({path});
            noloop = walk(open, belowlink || (found.attrib & REPARSE_POINT), steps);
            open.pop_back();
            if (noloop) steps.push_back({treestep::DIRECTORY_END, path + "\\", 0, std::string()});
        } else {
            steps.push_back({treestep::FILE_ENTRY, path, uint64_t(found.size), std::string()});
        }
    } while (noloop && _findnexti64(listing.get(), &found) == 0);
    return noloop;
}

} // namespace

std::vector<treestep> filelist::listtree(const std::string& directory)
{
    std::vector<treestep> steps;
    std::vector<opendirectory> open(1);
    open[0].path = directory;
    walk(open, false, steps);
    return steps;
}

bool filelist::GetAllFileInfoAndZip(const char* directory, datazip& archive)
{
    // The tree is listed first, so the files can be compressed ahead on a
    // second thread while the archive is written in walk order.
    std::vector<treestep> steps = listtree(directory);
    std::vector<std::string> files(steps.size());
    std::vector<uint64_t> sizes(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].kind != treestep::FILE_ENTRY) continue;
        files[i] = steps[i].path;
        sizes[i] = steps[i].size;
    }
    deflateahead ahead(std::move(files), std::move(sizes));

    bool complete = true;
    for (size_t i = 0; i < steps.size(); ++i) {
        const treestep& step = steps[i];
        if (step.kind == treestep::LOOP) {
            logline("filelist", "filelist::GetAllFileInfoAndZip", 31, "%s leads back to %s: not packed\n",
                    step.path.c_str(), step.again.c_str());
            return false;
        }
        if (step.kind == treestep::UNLISTABLE) {
            logline("filelist", "filelist::GetAllFileInfoAndZip", 29, "Cannot get handle for file %s\n",
                    step.path.c_str());
            complete = false;
            continue;
        }
        deflatedfile deflated;
        bool added = step.kind == treestep::FILE_ENTRY && ahead.take(i, deflated)
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
