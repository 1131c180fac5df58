#include "installrun.h"

#include "linkcheck.h"
#include "pathhelpers.h"
#include "platform.h"

#include <windows.h>

namespace {

// The final path of handle in its usual form (C:\..., \\server\share\...),
// with a trailing backslash; empty where the system cannot say.
std::wstring finalname(HANDLE handle)
{
    std::wstring resolved = resolvedpath(handle);
    if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        resolved = L"\\\\" + resolved.substr(8);
    else if (resolved.compare(0, 4, L"\\\\?\\") == 0)
        resolved = resolved.substr(4);
    else
        return std::wstring();
    if (resolved.empty()) return resolved;
    if (resolved.back() != L'\\') resolved += L'\\';
    return resolved;
}

bool inheritedautoinstall()
{
    // Asked for its size first: a buffer too small receives nothing.
    DWORD size = GetEnvironmentVariableW(L"VQNAUTOI", nullptr, 0);
    if (size == 0) return false;
    std::wstring value(size, L'\0');
    DWORD n = GetEnvironmentVariableW(L"VQNAUTOI", &value[0], size);
    return n > 0 && n < size && value[0] == L'1';
}

// The program's own file as the system names it; empty when it cannot say.
std::wstring ownfilename()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (n == 0) return std::wstring();
        // A path that filled the buffer may have been cut short.
        if (n < path.size()) return path.substr(0, n);
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

} // namespace

bool isrunningimage(HANDLE file)
{
    const auto same = platform.mappedfilesthesame;
    if (!same) return true;
    // The first page is enough: the system compares the files behind two
    // mapped addresses, whatever they hold.
    kernelhandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return false;
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1);
    if (!view) return false;
    bool identical = same(GetModuleHandleW(nullptr), view) >= 0;
    UnmapViewOfFile(view);
    return identical;
}

filehandle openownfile()
{
    std::wstring path = ownfilename();
    if (path.empty()) return filehandle();
    filehandle own(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               0, nullptr));
    // The name was looked up again: it must still lead to what runs.
    if (own && !isrunningimage(own.get())) own.reset();
    return own;
}

bool holdtemporary(installrun& run)
{
    // Opened through any link on the way (the user's temporary directory
    // may lie anywhere), as what it is: no privilege is enabled. Without
    // shared deletion, nobody renames it while it is held.
    run.temporary = filehandle(platform.createfile(
        run.workspacedirw.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!run.temporary) return false;
    if (!run.elevated) return true;
    std::wstring held = finalname(run.temporary.get());
    if (held.empty() || held == run.workspacedirw) return true;
    pinworkspacedir(held);
    run.workspacedirw = workspacedirw();
    run.workspacedir = workspacedir();
    return true;
}

installrun makeinstallrun(int argc, char** argv, filehandle package)
{
    installrun run;
    run.packagepath = argc > 0 && argv[0] ? argv[0] : "";
    run.package = std::move(package);
    run.elevated = platform.tokenelevated();
    run.hidden = argc > 2 || inheritedautoinstall();
    run.workspacedir = workspacedir();
    run.workspacedirw = workspacedirw();
    holdtemporary(run);
    return run;
}
