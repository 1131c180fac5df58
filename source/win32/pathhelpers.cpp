#include "pathhelpers.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

wchar_t* ansitowidebuf(const char* s)
{
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n < 0) n = 0;
    size_t bytes = 2 * size_t(n) + 1;
    auto* buffer = static_cast<wchar_t*>(malloc(bytes));
    if (!buffer) return nullptr;
    memset(buffer, 0, bytes);
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s, -1, buffer, n);
    return buffer;
}

std::wstring ansitowide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring buffer(size_t(n) + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &buffer[0], n);
    return std::wstring(buffer.c_str());
}

std::string widetoansi(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string buffer(size_t(n) + 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &buffer[0], n, nullptr, nullptr);
    return std::string(buffer.c_str());
}

namespace {

std::wstring pinned;

} // namespace

void pinworkspacedir(const std::wstring& dir) { pinned = dir; }

std::wstring workspacedirw()
{
    if (!pinned.empty()) return pinned;
    DWORD len = GetTempPathW(0, nullptr);
    if (len == 0) return std::wstring();
    std::wstring buffer(size_t(len) + 1, L'\0');
    GetTempPathW(len, &buffer[0]);
    return std::wstring(buffer.c_str());
}

std::string workspacedir()
{
    std::wstring wide = workspacedirw();
    if (wide.empty()) return std::string();
    std::string narrow = widetoansi(wide);
    if (ansitowide(narrow) == wide) return narrow;
    // A name the code page cannot hold turns into "?" characters, which
    // would name another directory; the short form is plain ASCII.
    DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return std::string();
    std::wstring shortform(size_t(n) + 1, L'\0');
    if (GetShortPathNameW(wide.c_str(), &shortform[0], n + 1) == 0) return std::string();
    shortform.resize(wcslen(shortform.c_str()));
    narrow = widetoansi(shortform);
    if (ansitowide(narrow) != shortform) return std::string();
    return narrow;
}
