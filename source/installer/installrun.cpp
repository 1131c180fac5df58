#include "installrun.h"

#include "pathhelpers.h"
#include "platform.h"
#include "workspace.h"

#include <windows.h>

namespace {

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
