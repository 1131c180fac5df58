#include "linkcheck.h"

#include "platform.h"

namespace {

// Resolved paths compare as NTFS compares names: case folded over all of
// Unicode (CharUpperBuffW), not over ASCII alone.
bool sameresolved(std::wstring a, std::wstring b)
{
    if (a.size() != b.size()) return false;
    if (!a.empty()) CharUpperBuffW(&a[0], DWORD(a.size()));
    if (!b.empty()) CharUpperBuffW(&b[0], DWORD(b.size()));
    return a == b;
}

} // namespace

filehandle openitself(const std::wstring& path, DWORD access, DWORD share)
{
    // Backup semantics: directories open too.
    return filehandle(platform.createfile(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

std::wstring resolvedpath(HANDLE handle)
{
    if (!platform.finalpath) return std::wstring();
    std::wstring buffer(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        DWORD n = platform.finalpath(handle, &buffer[0], DWORD(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(size_t(n) + 1, L'\0');
    }
    return std::wstring();
}

bool canresolve() { return platform.finalpath != nullptr; }

bool expectedbelowparent(const std::wstring& path, std::wstring& expected)
{
    expected.clear();
    size_t separator = path.find_last_of(L'\\');
    if (!canresolve() || separator == std::wstring::npos || separator == 0) return true;
    filehandle parent(platform.createfile(path.substr(0, separator).c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    std::wstring resolved = parent ? resolvedpath(parent.get()) : std::wstring();
    while (!resolved.empty() && resolved.back() == L'\\') resolved.pop_back();
    if (resolved.empty()) return false;
    expected = resolved + path.substr(separator);
    return true;
}

bool isplain(HANDLE handle, const std::wstring& path, const std::wstring& expected)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || isreparsepoint(info.dwFileAttributes)) return false;
    // A file with a second name is one whose data someone else can reach:
    // writing it would write there too.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return false;
    // Wine opens a link's target: only the path's own attributes show a link
    // to a directory there, and only the resolved path a link to a file.
    if (isreparsepoint(platform.attributes(path.c_str()))) return false;
    if (expected.empty()) return true;
    // Where the system can resolve paths, one it cannot resolve is not
    // taken on trust (RAM disks, volumes without a drive letter).
    std::wstring resolved = resolvedpath(handle);
    return resolved.empty() ? !canresolve() : sameresolved(resolved, expected);
}

bool deletethrough(HANDLE handle) { return platform.deletethrough(handle); }

bool removelink(const std::wstring& path, deletecheck allowed, HANDLE parent)
{
    filehandle link = openitself(path, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!link) return false;
    // Only a handle on the link itself may be deleted through: Wine hands out
    // the target, which shows no reparse point, and would delete that.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(link.get(), &info) || !isreparsepoint(info.dwFileAttributes)) return false;
    if (allowed && !allowed(link.get(), parent)) return false;
    return deletethrough(link.get());
}

linkcheck::linkcheck(const std::wstring& root) : base(root)
{
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    // Opened through any link on the way: the root is where the user keeps
    // temporary files, wherever that lies.
    filehandle opened(platform.createfile(base.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (opened) resolvedbase = resolvedpath(opened.get());
    while (!resolvedbase.empty() && resolvedbase.back() == L'\\') resolvedbase.pop_back();
    unresolved = canresolve() && resolvedbase.empty();
}

bool linkcheck::plainornew(const std::wstring& relative) const
{
    std::wstring name = relative;
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    std::wstring path = base + L"\\" + name;
    DWORD attributes = platform.attributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        // Under Wine a link whose target is missing has no attributes but is
        // still listed; creating a file there would create the target.
        WIN32_FIND_DATAW found;
        findfilehandle listed(FindFirstFileW(path.c_str(), &found));
        return !listed;
    }
    // What stands below a root the system could not resolve is not checked against it.
    if (isreparsepoint(attributes) || unresolved) return false;
    filehandle opened = openitself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!opened) return false;
    return isplain(opened.get(), path, resolvedbase.empty() ? std::wstring() : resolvedbase + L"\\" + name);
}
