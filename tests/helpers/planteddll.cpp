// A DLL planted beside a package under a system DLL's name: when loaded it
// leaves "<its file name>.loaded" beside itself, so a test can tell.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH * 4];
        DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
        if (n > 0 && n < MAX_PATH * 4 - 8) {
            lstrcatW(path, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}
