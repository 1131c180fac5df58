#include "installrun.h"

#include "pathhelpers.h"
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

filehandle openownfile()
{
    std::wstring path = ownfilename();
    if (path.empty()) return filehandle();
    return filehandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
}

installrun makeinstallrun(int argc, char** argv, filehandle package)
{
    installrun run;
    run.packagepath = argc > 0 && argv[0] ? argv[0] : "";
    run.package = std::move(package);
    run.elevated = tokenelevated();
    run.hidden = argc > 2 || inheritedautoinstall();
    run.workspacedir = workspacedir();
    run.workspacedirw = workspacedirw();
    return run;
}
