#include "startup.h"

#include "pathhelpers.h"
#include "systemfunction.h"

#include <windows.h>
#include <gdiplus.h>

uintptr_t gdiplustoken = 0;

void limitdllsearch()
{
    // Looked up at run time: older systems lack it.
    auto set = systemfunction<BOOL(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Also takes the current directory out of the search where the call above
    // is missing.
    SetDllDirectoryW(L"");
}

void publisharguments(int argc, char** argv)
{
    if (argc <= 2) return;
    // Both buffers live as long as the process.
    wchar_t* autoinstall = ansitowidebuf(argv[1]);
    SetEnvironmentVariableW(L"VQNAUTOI", autoinstall);
    wchar_t* installpath = ansitowidebuf(argv[2]);
    SetEnvironmentVariableW(L"VQNPATHI", installpath);
}

bool startgdiplus()
{
    Gdiplus::GdiplusStartupInput input; // version 1, no callback, no suppression
    ULONG_PTR token = 0;
    bool ok = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    gdiplustoken = token;
    return ok;
}
