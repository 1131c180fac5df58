#include "installsink.h"

#include "entryname.h"
#include "pathhelpers.h"
#include "platform.h"

#include <windows.h>

namespace {

// Position of the character after name[i] in the ANSI code page: a trail byte
// of a double-byte character may equal a separator and must not count as one.
size_t nextchar(const char* name, size_t i)
{
    if (IsDBCSLeadByte(BYTE(name[i])) && name[i + 1] != 0) return i + 2;
    return i + 1;
}

// Writes all bytes, going on after a short write until a write returns 0.
bool writeall(FILE* out, const char* bytes, size_t length)
{
    for (size_t done = 0; done < length;) {
        size_t wrote = fwrite(bytes + done, 1, length - done, out);
        if (wrote == 0) return false;
        done += wrote;
    }
    return true;
}

// Opens name (relative to the current directory) for writing from its first
// byte: a new file, or an existing plain file that has no second name,
// emptied. Null when it cannot be opened or is a link of either kind.
FILE* createoutput(const char* name)
{
    std::wstring wide = ansitowide(name);
    filehandle file(platform.createfile(wide.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
    // Checked on the handle that is written through, not on the name before.
    if (!file || !isplain(file.get(), wide, std::wstring()) || !SetEndOfFile(file.get())) return nullptr;
    return crtfile(file, "wb");
}

} // namespace

bool installsink::enter(const char* target)
{
    targeted = target != nullptr;
    here = target ? target : "";
    // Each change of directory is a trip to the file system: the target stays
    // current from one entry to the next, since only this sink moves it meanwhile.
    if (!target || incurrent == target) return true;
    // Relative names must not land in whatever directory is current instead.
    if (!platform.changedirectory(target)) {
        incurrent.clear();
        return false;
    }
    incurrent = target;
    return true;
}

void installsink::leave() { incurrent.clear(); }

bool installsink::makedirectory(const std::string& prefix)
{
    auto known = made.find(prefix);
    if (known != made.end()) return known->second != DIRECTORY_LINK;
    int state = DIRECTORY_LINK;
    std::wstring wide = ansitowide(prefix);
    if (links.plainornew(wide)) state = platform.createdirectory(wide.c_str()) ? DIRECTORY_NEW : DIRECTORY_FOUND;
    made[prefix] = state;
    return state != DIRECTORY_LINK;
}

bool installsink::plainentry(const std::string& directory, const char* path)
{
    // A directory this sink has just made holds nothing it did not write itself.
    auto known = made.find(directory);
    if (known != made.end() && known->second == DIRECTORY_NEW) return true;
    return links.plainornew(ansitowide(path));
}

bool installsink::begin(const entryrecord& entry)
{
    // The name as the installer's buffer holds it: up to a zero byte.
    name = entry.name.c_str();
    // Directories are created relative to the target, so the current
    // directory never wanders into the entry's path.
    if (here != madein || !linksready) {
        made.clear();
        madein = here;
        links = linkcheck(ansitowide(targeted ? here : "."));
        linksready = true;
    }
    // Nothing is written through a link: not into a directory on the way
    // that is one (a leftover that could not be removed), not over a file
    // that is one.
    const char* path = name.c_str();
    bool throughlink = false;
    std::string prefix, directory;
    for (size_t i = 0; path[i] && !throughlink;) {
        size_t next = nextchar(path, i);
        if (next == i + 1 && isseparator(path[i])) {
            throughlink = !makedirectory(prefix);
            directory = prefix;
        }
        prefix.append(path + i, next - i);
        i = next;
    }
    if (!throughlink) throughlink = !plainentry(directory, path);
    out.reset(throughlink ? nullptr : createoutput(path));
    return bool(out);
}

bool installsink::data(const unsigned char* bytes, size_t length)
{
    return writeall(out.get(), reinterpret_cast<const char*>(bytes), length);
}

int32_t installsink::end(int32_t result)
{
    if (fflush(out.get()) != 0 && result == ENTRY_OK) result = ENTRY_WRITE_FAILED;
    // Closed here, not by the owner: a failed close is a failed write.
    if (closechecked(out) != 0 && result == ENTRY_OK) result = ENTRY_WRITE_FAILED;
    // A damaged entry must not pass for the real file.
    if (result != ENTRY_OK) remove(name.c_str());
    return result;
}
