// A sample setup program for the demo package. The installer starts it as
// setup\rEdizo.exe; it shows what it was handed (the stamped configuration,
// the channel file, the two variables) on standard output and in
// setup-report.txt beside itself, then exits.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring ownfolder()
{
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::string readall(const std::wstring& path)
{
    std::string bytes;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        fclose(f);
    } else {
        bytes = "(missing)";
    }
    return bytes;
}

std::string variable(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "(unset)";
}

} // namespace

int main()
{
    std::wstring folder = ownfolder();
    std::string report;
    report += "sample setup program running\n";
    report += "channel.cfg: " + readall(folder + L"channel.cfg") + "\n";
    report += "VQNAUTOI: " + variable("VQNAUTOI") + "\n";
    report += "VQNPATHI: " + variable("VQNPATHI") + "\n";
    report += "config.xml:\n" + readall(folder + L"config.xml") + "\n";
    fputs(report.c_str(), stdout);
    if (FILE* f = _wfopen((folder + L"setup-report.txt").c_str(), L"wb")) {
        fputs(report.c_str(), f);
        fclose(f);
    }
    return 0;
}
