// Stand-in for a package's setup program. It records what it sees: its
// command line, current directory, the two variables the installer passes
// on, the files beside it and every file of the tree below it with its
// size. The record goes to standard output and, when STANDIN_RECORD names a
// file, to that file as well. With STANDIN_SLEEP_MS it waits that long before
// it exits; STANDIN_EXIT sets its exit code.
#include "testfiles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string s(size_t(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    return s;
}

std::string variable(const wchar_t* name)
{
    wchar_t value[4096];
    DWORD n = GetEnvironmentVariableW(name, value, 4096);
    if (n == 0 || n >= 4096) return "(unset)";
    return utf8(value);
}

} // namespace

int main()
{
    std::string record;
    record += "cmdline=" + utf8(GetCommandLineW()) + "\n";
    wchar_t cwd[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, cwd);
    record += "cwd=" + utf8(cwd) + "\n";
    record += "VQNAUTOI=" + variable(L"VQNAUTOI") + "\n";
    record += "VQNPATHI=" + variable(L"VQNPATHI") + "\n";

    wchar_t self[MAX_PATH * 4];
    DWORD len = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring dir(self, len);
    dir = dir.substr(0, dir.find_last_of(L'\\'));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            record += "file=" + utf8(data.cFileName) + "\n";
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }

    // Every file below its directory with its size, to show the whole tree
    // was there when it started.
    std::vector<std::wstring> pending = {L""};
    while (!pending.empty()) {
        std::wstring relative = pending.back();
        pending.pop_back();
        HANDLE listing = FindFirstFileW((dir + L"\\" + relative + L"*").c_str(), &data);
        if (listing == INVALID_HANDLE_VALUE) continue;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                pending.push_back(relative + name + L"\\");
            else
                record += "tree=" + utf8((relative + name).c_str()) + " " + std::to_string(data.nFileSizeLow) + "\n";
        } while (FindNextFileW(listing, &data));
        FindClose(listing);
    }

    fputs(record.c_str(), stdout);
    fflush(stdout);
    wchar_t target[4096];
    DWORD n = GetEnvironmentVariableW(L"STANDIN_RECORD", target, 4096);
    if (n > 0 && n < 4096) testfiles::writefile(std::wstring(target), record);
    wchar_t number[32];
    if (GetEnvironmentVariableW(L"STANDIN_SLEEP_MS", number, 32)) Sleep(DWORD(wcstoul(number, nullptr, 10)));
    if (GetEnvironmentVariableW(L"STANDIN_EXIT", number, 32)) return int(wcstol(number, nullptr, 10));
    return 0;
}
