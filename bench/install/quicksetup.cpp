// The setup program of the benchmark packages: it writes the moment it
// started (the performance counter, which all processes share) into the file
// that BENCH_STAMP names, and exits at once. A GUI program, so that no
// console is made for it.
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableW(L"BENCH_STAMP", path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return 0;
    FILE* f = _wfopen(path, L"wb");
    if (!f) return 1;
    fprintf(f, "%lld\n", (long long)now.QuadPart);
    return fclose(f) == 0 ? 0 : 1;
}
