#include "linkcheck.h"

#include "systemfunction.h"

#include <cwchar>

namespace {

// ntdll's NtSetInformationFile with FileDispositionInformation: present on
// every Windows version, unlike SetFileInformationByHandle (Vista and later).
typedef LONG setinformationfile(HANDLE, void* status, void* information, ULONG length, int infoclass);
const int FILE_DISPOSITION_INFORMATION_CLASS = 13;

struct iostatus {
    void* status;
    ULONG_PTR information;
};

typedef DWORD finalpathbyhandle(HANDLE, LPWSTR, DWORD, DWORD);

bool sameresolved(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

} // namespace

filehandle openitself(const std::wstring& path, DWORD access, DWORD share)
{
    // Backup semantics: directories open too.
    return filehandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::wstring resolvedpath(HANDLE handle)
{
    // Looked up on every call: a guarded local static would pull the C++
    // runtime's exception support into the program.
    const auto finalpath = systemfunction<finalpathbyhandle>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    if (!finalpath) return std::wstring();
    std::wstring buffer(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        DWORD n = finalpath(handle, &buffer[0], DWORD(buffer.size()), 0);
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(size_t(n) + 1, L'\0');
    }
    return std::wstring();
}

bool isplain(HANDLE handle, const std::wstring& path, const std::wstring& expected)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || isreparsepoint(info.dwFileAttributes)) return false;
    // Wine opens a link's target: only the path's own attributes show a link
    // to a directory there, and only the resolved path a link to a file.
    if (isreparsepoint(GetFileAttributesW(path.c_str()))) return false;
    if (expected.empty()) return true;
    std::wstring resolved = resolvedpath(handle);
    return resolved.empty() || sameresolved(resolved, expected);
}

bool deletethrough(HANDLE handle)
{
    const auto setinformation = systemfunction<setinformationfile>(L"ntdll.dll", "NtSetInformationFile");
    if (!setinformation) return false;
    iostatus status = {};
    BOOLEAN dispose = TRUE;
    return setinformation(handle, &status, &dispose, sizeof dispose, FILE_DISPOSITION_INFORMATION_CLASS) >= 0;
}

bool removelink(const std::wstring& path)
{
    filehandle link =
        openitself(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!link) return false;
    // Only a handle on the link itself may be deleted through: Wine hands out
    // the target, which shows no reparse point, and would delete that.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(link.get(), &info) || !isreparsepoint(info.dwFileAttributes)) return false;
    return deletethrough(link.get());
}

linkcheck::linkcheck(const std::wstring& root) : base(root)
{
    while (!base.empty() && base.back() == L'\\') base.pop_back();
    // Opened through any link on the way: the root is where the user keeps
    // temporary files, wherever that lies.
    filehandle opened(CreateFileW(base.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (opened) resolvedbase = resolvedpath(opened.get());
    while (!resolvedbase.empty() && resolvedbase.back() == L'\\') resolvedbase.pop_back();
}

bool linkcheck::plainornew(const std::wstring& relative) const
{
    std::wstring name = relative;
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    std::wstring path = base + L"\\" + name;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        // Under Wine a link whose target is missing has no attributes but is
        // still listed; creating a file there would create the target.
        WIN32_FIND_DATAW found;
        findfilehandle listed(FindFirstFileW(path.c_str(), &found));
        return !listed;
    }
    if (isreparsepoint(attributes)) return false;
    filehandle opened = openitself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!opened) return false;
    return isplain(opened.get(), path, resolvedbase.empty() ? std::wstring() : resolvedbase + L"\\" + name);
}
