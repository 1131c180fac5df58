#include "startup.h"

#include "pathhelpers.h"
#include "platform.h"

#include <windows.h>
#include <gdiplus.h>

#include <string>

uintptr_t gdiplustoken = 0;

void preloadsystemdlls()
{
    wchar_t directory[MAX_PATH];
    UINT n = GetSystemDirectoryW(directory, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const wchar_t* const names[] = {L"\\uxtheme.dll", L"\\dwmapi.dll", L"\\cryptbase.dll"};
    for (const wchar_t* name : names) {
        std::wstring path = std::wstring(directory, n) + name;
        // Kept loaded for the life of the process; a missing one is simply absent on that version.
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) LoadLibraryW(path.c_str());
    }
}

void limitdllsearch()
{
    // Older systems lack it.
    auto set = platform.setdefaultdlldirectories;
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!set) preloadsystemdlls();
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
