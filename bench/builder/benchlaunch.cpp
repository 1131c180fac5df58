// Starts one program, waits for it and prints what it cost, measured from
// inside Windows (so the figures leave out the Wine loader of the launcher):
//   benchlaunch [-e NAME=VALUE]... [-s STAMPFILE] PROGRAM [ARGUMENT]...
// -e sets a variable in the environment the program inherits (Wine keeps TMP
// and TEMP of its own, so they are set here). -s names a file that a setup
// program of the benchmarks writes its start time into (BENCH_STAMP); the
// launcher then also prints how long it took until that program started.
// Output, one line:
//   ms=<elapsed> peak_ws_kib=<n> peak_pagefile_kib=<n> exit=<code> [setup_ms=<t>]
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void appendquoted(std::wstring& line, const wchar_t* argument)
{
    if (!line.empty()) line += L' ';
    if (*argument && !wcspbrk(argument, L" \t\"")) {
        line += argument;
        return;
    }
    line += L'"';
    size_t slashes = 0;
    for (const wchar_t* p = argument; *p; ++p) {
        if (*p == L'\\') {
            ++slashes;
            continue;
        }
        // Backslashes before a quote are doubled, the quote escaped.
        if (*p == L'"') line.append(slashes + 1, L'\\');
        line.append(slashes, L'\\');
        slashes = 0;
        line += *p;
    }
    line.append(slashes * 2, L'\\');
    line += L'"';
}

void sample(HANDLE process, SIZE_T& workingset, SIZE_T& pagefile)
{
    PROCESS_MEMORY_COUNTERS memory;
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, &memory, sizeof memory)) return;
    if (memory.PeakWorkingSetSize > workingset) workingset = memory.PeakWorkingSetSize;
    if (memory.PeakPagefileUsage > pagefile) pagefile = memory.PeakPagefileUsage;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    const wchar_t* stampfile = nullptr;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == L'-'; i += 2) {
        if (wcscmp(argv[i], L"-s") == 0) {
            stampfile = argv[i + 1];
        } else if (wcscmp(argv[i], L"-e") == 0) {
            std::wstring assignment = argv[i + 1];
            size_t equals = assignment.find(L'=');
            if (equals == std::wstring::npos) return 2;
            SetEnvironmentVariableW(assignment.substr(0, equals).c_str(), assignment.c_str() + equals + 1);
        } else {
            break;
        }
    }
    if (i >= argc) {
        fprintf(stderr, "usage: benchlaunch [-e NAME=VALUE]... [-s STAMPFILE] PROGRAM [ARGUMENT]...\n");
        return 2;
    }
    if (stampfile) {
        SetEnvironmentVariableW(L"BENCH_STAMP", stampfile);
        DeleteFileW(stampfile);
    }
    std::wstring line;
    for (int k = i; k < argc; ++k) appendquoted(line, argv[k]);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    // The program's output goes nowhere, as for a program started from the
    // shell: a console would cost the programs that write log lines.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        fprintf(stderr, "benchlaunch: cannot start %ls (error %lu)\n", argv[i], GetLastError());
        return 1;
    }
    // Wine answers memory queries about another process only while it runs,
    // so the peaks are sampled during the wait and kept.
    SIZE_T workingset = 0, pagefile = 0;
    while (WaitForSingleObject(info.hProcess, 5) == WAIT_TIMEOUT) sample(info.hProcess, workingset, pagefile);
    QueryPerformanceCounter(&end);
    sample(info.hProcess, workingset, pagefile);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);

    double ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    printf("ms=%.1f peak_ws_kib=%lu peak_pagefile_kib=%lu exit=%ld", ms, (unsigned long)(workingset / 1024),
           (unsigned long)(pagefile / 1024), long(code));
    if (stampfile) {
        FILE* f = _wfopen(stampfile, L"rb");
        long long stamp = 0;
        if (f && fscanf(f, "%lld", &stamp) == 1)
            printf(" setup_ms=%.1f", double(stamp - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
        else
            printf(" setup_ms=none");
        if (f) fclose(f);
    }
    printf("\n");
    return 0;
}
