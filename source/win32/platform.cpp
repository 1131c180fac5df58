#include "platform.h"

#include "systemfunction.h"

#include <aclapi.h>
#include <winternl.h>

#include <direct.h>

#include <cstddef>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <io.h>

namespace {

// ntdll's NtSetInformationFile with FileDispositionInformation: present on
// every Windows version, unlike SetFileInformationByHandle (Vista and later).
typedef LONG setinformationfile(HANDLE, IO_STATUS_BLOCK*, void* information, ULONG length, int infoclass);
const int FILE_DISPOSITION_INFORMATION_CLASS = 13;

// ntdll's NtCreateFile: the one call that makes a directory and opens it.
typedef LONG ntcreatefile(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG, ULONG,
                          ULONG, ULONG, void*, ULONG);
const ULONG CREATE_ONLY = 2;               // FILE_CREATE: fails when the name exists
const ULONG DIRECTORY_FILE = 0x1;          // FILE_DIRECTORY_FILE
const ULONG SYNCHRONOUS_IO = 0x20;         // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG OPEN_REPARSE_POINT = 0x200000; // FILE_OPEN_REPARSE_POINT
const ULONG CASE_INSENSITIVE = 0x40;       // OBJ_CASE_INSENSITIVE

typedef DWORD finalpathbyhandle(HANDLE, LPWSTR, DWORD, DWORD);

HANDLE systemcreatefile(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* attributes,
                        DWORD disposition, DWORD flags)
{
    return CreateFileW(path, access, share, attributes, disposition, flags, nullptr);
}

// The object manager's name of a Win32 path: \??\C:\..., \??\UNC\server\...
std::wstring ntname(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + path.substr(4);
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + path.substr(2);
    return L"\\??\\" + path;
}

HANDLE systemcreatedirectorynew(HANDLE parent, const wchar_t* path, SECURITY_DESCRIPTOR* descriptor, DWORD access,
                                DWORD share)
{
    const auto create = systemfunction<ntcreatefile>(L"ntdll.dll", "NtCreateFile");
    // Below parent the name is relative: nothing above it is looked up again.
    std::wstring name = parent ? std::wstring(path) : ntname(path);
    if (!create || name.size() * sizeof(wchar_t) >= 0xfffe) return INVALID_HANDLE_VALUE;
    UNICODE_STRING unicode;
    unicode.Buffer = &name[0];
    unicode.Length = USHORT(name.size() * sizeof(wchar_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &unicode, CASE_INSENSITIVE, parent, descriptor);
    IO_STATUS_BLOCK status = {};
    HANDLE made = INVALID_HANDLE_VALUE;
    LONG result = create(&made, access | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_DIRECTORY, share,
                         CREATE_ONLY, DIRECTORY_FILE | SYNCHRONOUS_IO | OPEN_REPARSE_POINT, nullptr, 0);
    return result >= 0 ? made : INVALID_HANDLE_VALUE;
}

BOOL systemcreatedirectory(const wchar_t* path) { return CreateDirectoryW(path, nullptr); }

// FILE_RENAME_INFORMATION: the new name follows the fixed part.
struct renameinformation {
    BOOLEAN replace;
    HANDLE root;
    ULONG length;
    WCHAR name[1];
};
const int FILE_RENAME_INFORMATION_CLASS = 10;

bool systemrenamethrough(HANDLE handle, HANDLE directory, const wchar_t* to)
{
    const auto setinformation = systemfunction<setinformationfile>(L"ntdll.dll", "NtSetInformationFile");
    std::wstring name = directory ? std::wstring(to) : ntname(to);
    if (!setinformation) return false;
    size_t bytes = offsetof(renameinformation, name) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes + sizeof(wchar_t), 0);
    renameinformation* information = reinterpret_cast<renameinformation*>(buffer.data());
    information->replace = FALSE;
    information->root = directory;
    information->length = ULONG(name.size() * sizeof(wchar_t));
    memcpy(information->name, name.data(), information->length);
    IO_STATUS_BLOCK status = {};
    return setinformation(handle, &status, information, ULONG(bytes), FILE_RENAME_INFORMATION_CLASS) >= 0;
}

DWORD systemattributes(const wchar_t* path) { return GetFileAttributesW(path); }

bool systemdeletethrough(HANDLE handle)
{
    const auto setinformation = systemfunction<setinformationfile>(L"ntdll.dll", "NtSetInformationFile");
    if (!setinformation) return false;
    IO_STATUS_BLOCK status = {};
    BOOLEAN dispose = TRUE;
    return setinformation(handle, &status, &dispose, sizeof dispose, FILE_DISPOSITION_INFORMATION_CLASS) >= 0;
}

DWORD systemfinalpath(HANDLE handle, wchar_t* buffer, DWORD size)
{
    const auto finalpath = systemfunction<finalpathbyhandle>(L"kernel32.dll", "GetFinalPathNameByHandleW");
    return finalpath ? finalpath(handle, buffer, size, 0) : 0;
}

bool systemchangedirectory(const char* path) { return _chdir(path) == 0; }

bool systemvolumeflags(const wchar_t* path, DWORD* flags)
{
    wchar_t root[MAX_PATH + 1];
    if (!GetVolumePathNameW(path, root, MAX_PATH)) return false;
    if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, flags, nullptr, 0)) return false;
    // A share reports the server's file system; what its ACLs mean is the server's business.
    if (GetDriveTypeW(root) == DRIVE_REMOTE) *flags &= ~DWORD(FILE_PERSISTENT_ACLS);
    return true;
}

bool systemdescriptorof(HANDLE handle, std::vector<unsigned char>& descriptor)
{
    PSECURITY_DESCRIPTOR read = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &read) != ERROR_SUCCESS)
        return false;
    // Returned self-relative: one block that copies as it is.
    DWORD size = GetSecurityDescriptorLength(read);
    descriptor.assign(static_cast<unsigned char*>(read), static_cast<unsigned char*>(read) + size);
    LocalFree(read);
    return size > 0;
}

HANDLE systemlimitedtoken()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return nullptr;
    kernelhandle token(raw);
    // Only a full token of a split pair has a less privileged twin; the call
    // fails before Vista, and for tokens that were never split.
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) ||
        type != TokenElevationTypeFull)
        return nullptr;
    TOKEN_LINKED_TOKEN linked = {};
    if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof linked, &size)) return nullptr;
    return linked.LinkedToken;
}

DWORD systemwaitfor(HANDLE object, DWORD milliseconds) { return WaitForSingleObject(object, milliseconds); }

BOOL systemcreateprocess(const wchar_t* application, wchar_t* commandline, const wchar_t* directory,
                         STARTUPINFOW* startup, PROCESS_INFORMATION* started)
{
    return CreateProcessW(application, commandline, nullptr, nullptr, TRUE, 0, nullptr, directory, startup, started);
}

bool systemrandombytes(void* buffer, ULONG size)
{
    const auto generate = systemfunction<BOOLEAN(void*, ULONG)>(L"advapi32.dll", "SystemFunction036");
    return generate && generate(buffer, size);
}

bool systemtokenelevated()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    kernelhandle token(raw);
    // TokenElevation is unknown before Vista: the call fails there.
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

DWORD systemntmajorversion()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return 0;
    return version.dwMajorVersion;
}

} // namespace

platformcalls systemplatform()
{
    platformcalls calls;
    calls.createfile = systemcreatefile;
    calls.createdirectorynew = systemcreatedirectorynew;
    calls.createdirectory = systemcreatedirectory;
    calls.renamethrough = systemrenamethrough;
    calls.attributes = systemattributes;
    calls.deletethrough = systemdeletethrough;
    // Asked once: the system either has the call or not.
    calls.finalpath =
        systemfunction<finalpathbyhandle>(L"kernel32.dll", "GetFinalPathNameByHandleW") ? systemfinalpath : nullptr;
    calls.changedirectory = systemchangedirectory;
    calls.volumeflags = systemvolumeflags;
    calls.descriptorof = systemdescriptorof;
    calls.limitedtoken = systemlimitedtoken;
    calls.waitfor = systemwaitfor;
    calls.createprocess = systemcreateprocess;
    calls.setdefaultdlldirectories = systemfunction<BOOL(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
    calls.mappedfilesthesame = systemfunction<LONG(void*, void*)>(L"ntdll.dll", "NtAreMappedFilesTheSame");
    calls.wow64directory = systemfunction<UINT(LPWSTR, UINT)>(L"kernel32.dll", "GetSystemWow64DirectoryW");
    calls.randombytes = systemrandombytes;
    calls.tokenelevated = systemtokenelevated;
    calls.ntmajorversion = systemntmajorversion;
    return calls;
}

platformcalls platform = systemplatform();

FILE* crtfile(filehandle& file, const char* mode)
{
    if (!file) return nullptr;
    int flags = (mode[0] == 'w' ? _O_WRONLY : _O_RDONLY) | _O_BINARY;
    int descriptor = _open_osfhandle(intptr_t(file.get()), flags);
    if (descriptor < 0) {
        file.reset();
        return nullptr;
    }
    file.release();
    FILE* opened = _fdopen(descriptor, mode);
    // The descriptor owns the handle now: closing it closes both.
    if (!opened) _close(descriptor);
    return opened;
}
