#include "testfiles.h"

#include "owners.h"

#include <cstdio>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

namespace testfiles {

namespace {

FILE* openfile(const std::string& path, bool write) { return fopen(path.c_str(), write ? "wb" : "rb"); }

bool isseparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

void makedirectory(const std::string& path)
{
#ifdef _WIN32
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0777);
#endif
}

#ifdef _WIN32
FILE* openfile(const std::wstring& path, bool write) { return _wfopen(path.c_str(), write ? L"wb" : L"rb"); }
bool isseparator(wchar_t c) { return c == L'\\' || c == L'/'; }
void makedirectory(const std::wstring& path) { _wmkdir(path.c_str()); }
#endif

template <typename Path>
std::string readwhole(const Path& path)
{
    std::string bytes;
    stdiofile file(openfile(path, false));
    if (!file) return bytes;
    char piece[65536];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file.get())) > 0) bytes.append(piece, got);
    return bytes;
}

template <typename Path>
bool writewhole(const Path& path, const std::string& bytes)
{
    // Every directory on the way, in order; those that exist refuse quietly.
    // Not a drive ("C:") and not the root.
    for (size_t i = 1; i < path.size(); ++i)
        if (isseparator(path[i]) && !isseparator(path[i - 1]) && path[i - 1] != ':') makedirectory(path.substr(0, i));
    stdiofile file(openfile(path, true));
    if (!file) return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return closechecked(file) == 0 && written;
}

} // namespace

std::string readfile(const std::string& path) { return readwhole(path); }
bool writefile(const std::string& path, const std::string& bytes) { return writewhole(path, bytes); }

#ifdef _WIN32
std::string readfile(const std::wstring& path) { return readwhole(path); }
bool writefile(const std::wstring& path, const std::string& bytes) { return writewhole(path, bytes); }
#endif

} // namespace testfiles
