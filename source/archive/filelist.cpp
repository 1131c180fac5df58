#include "filelist.h"

#include "datazip.h"
#include "deflateahead.h"
#include "platform.h"
#include "handles.h"
#include "linkcheck.h"
#include "logline.h"
#include "pathhelpers.h"

#include <direct.h>
#include <io.h>

#include <cstdio>
#include <map>
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
    // Names met in this directory, in one case: a case-sensitive directory
    // can hold names that the installer's file system takes for one.
    std::map<std::wstring, std::string> met;
    do {
        if (isdots(found.name)) continue;
        std::string path = directory + "\\" + found.name;
        std::wstring folded = ansitowide(found.name);
        if (!folded.empty()) CharUpperBuffW(&folded[0], DWORD(folded.size()));
        auto earlier = met.emplace(folded, path);
        if (!earlier.second) {
            steps.push_back({treestep::CASE_TWIN, path, 0, earlier.first->second});
            continue;
        }
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
        if (step.kind == treestep::CASE_TWIN) {
            logline("filelist", "filelist::GetAllFileInfoAndZip", 33, "%s differs only in case from %s: not packed\n",
                    step.path.c_str(), step.again.c_str());
            complete = false;
            continue;
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

namespace {

const DWORD LISTING_SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD ENTRY_SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A link found where a file or directory was expected: removed as a link
// where the system allows it, otherwise left as it is, behind it untouched.
void droplink(const std::string& path, const std::wstring& wide, deletecheck allowed, HANDLE parent)
{
    if (!removelink(wide, allowed, parent))
        logline("filelist", "filelist::deletepath", 86, "link <%s> left in place\n", path.c_str());
}

// Deletes the directory path (wide: the same path in UTF-16) with everything
// below it. expected is the path the system should resolve for it (empty:
// unknown); a directory that resolves elsewhere is reached through a link.
// Only what allowed lets go is deleted; parent is path's directory, open.
bool deletetree(const std::string& path, const std::wstring& wide, const std::wstring& expected, deletecheck allowed,
                HANDLE parent)
{
    logline("filelist", "filelist::deletepath", 85, "path name is <%s>\n", path.c_str());
    if (isreparsepoint(platform.attributes(wide.c_str()))) {
        droplink(path, wide, allowed, parent);
        return true;
    }
    // Held without shared deletion while its entries go: nobody can move it
    // away and put a link in its place meanwhile. (Without DELETE access of
    // its own: the listing would not open beside that.)
    filehandle directory = openitself(wide, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL, LISTING_SHARE);
    std::string pattern = path + "\\*";
    if (!directory) {
        logline("filelist", "filelist::deletepath", 87, "Cannot get handle for file %s\n", pattern.c_str());
        return false;
    }
    if (!isplain(directory.get(), wide, expected)) {
        directory.reset();
        droplink(path, wide, allowed, parent);
        return true;
    }
    std::wstring resolved = resolvedpath(directory.get());
    // What cannot be resolved where the system resolves paths is left alone.
    if (resolved.empty() && canresolve()) return false;
    {
        WIN32_FIND_DATAW found;
        findfilehandle listing(FindFirstFileW((wide + L"\\*").c_str(), &found));
        if (!listing) {
            logline("filelist", "filelist::deletepath", 87, "Cannot get handle for file %s\n", pattern.c_str());
            return false;
        }
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::string entry = path + "\\" + widetoansi(name);
            std::wstring wideentry = wide + L"\\" + name;
            std::wstring entryexpected = resolved.empty() ? std::wstring() : resolved + L"\\" + name;
            // Whatever cannot be deleted stays, and with it the directories above.
            if (isreparsepoint(found.dwFileAttributes)) {
                droplink(entry, wideentry, allowed, directory.get());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                deletetree(entry, wideentry, entryexpected, allowed, directory.get());
            } else {
                filehandle file = openitself(wideentry, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, ENTRY_SHARE);
                if (!file) continue;
                if (isplain(file.get(), wideentry, entryexpected)) {
                    if (!allowed || allowed(file.get(), directory.get())) deletethrough(file.get());
                } else {
                    file.reset();
                    droplink(entry, wideentry, allowed, directory.get());
                }
            }
        } while (FindNextFileW(listing.get(), &found));
    }
    // Opened again to delete it; gone when that handle closes, if it is
    // empty by then and still the same plain directory.
    directory.reset();
    directory = openitself(wide, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, LISTING_SHARE);
    if (directory && isplain(directory.get(), wide, expected) && (!allowed || allowed(directory.get(), parent)))
        deletethrough(directory.get());
    return true;
}

} // namespace

bool filelist::deletepath(std::string path, deletecheck allowed, HANDLE parent)
{
    std::wstring wide = ansitowide(path);
    // The directory's own name, as the system should resolve it below its
    // parent; the parent is taken as it is.
    std::wstring expected;
    if (!expectedbelowparent(wide, expected)) return false;
    return deletetree(path, wide, expected, allowed, parent);
}
