#include "workspace.h"

#include "linkcheck.h"
#include "pathhelpers.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// Held from the lock until the process ends; the system releases both.
kernelhandle workspacelock;
filehandle heldworkspace;

// Read and execute for files and directories: list, traverse, read, run.
const DWORD READ_AND_EXECUTE = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
const BYTE INHERITED_BELOW = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

void enableprivilege(const wchar_t* name)
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return;
    kernelhandle token(raw);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

// Owner and protected DACL on an open directory.
bool applydescriptor(HANDLE directory, workspacedescriptor& descriptor)
{
    SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    return SetSecurityInfo(directory, SE_FILE_OBJECT, what, descriptor.owner(), nullptr, descriptor.dacl(), nullptr) ==
           ERROR_SUCCESS;
}

// True when workspace is missing or a plain directory below its parent.
bool plainbelowparent(const std::wstring& workspace)
{
    size_t separator = workspace.find_last_of(L'\\');
    if (separator == std::wstring::npos) return false;
    return linkcheck(workspace.substr(0, separator)).plainornew(workspace.substr(separator + 1));
}

const DWORD SECURITY_ACCESS = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;

// The directory itself opened to change its owner and DACL. Where the DACL
// does not let administrators in, the owner is taken first (the privilege
// allows that much), which lets the new owner change the DACL.
filehandle openforsecurity(const std::wstring& workspace, workspacedescriptor& descriptor)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    filehandle directory = openitself(workspace, SECURITY_ACCESS, share);
    if (directory) return directory;
    filehandle owneronly = openitself(workspace, WRITE_OWNER | FILE_READ_ATTRIBUTES, share);
    if (!owneronly || !isplain(owneronly.get(), workspace, std::wstring())) return filehandle();
    SetSecurityInfo(owneronly.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, descriptor.owner(), nullptr, nullptr,
                    nullptr);
    owneronly.reset();
    return openitself(workspace, SECURITY_ACCESS, share);
}

} // namespace

std::wstring workspacelockname(const std::wstring& workspace)
{
    std::wstring upper = workspace;
    if (!upper.empty()) CharUpperBuffW(&upper[0], DWORD(upper.size()));
    // FNV-1a over the UTF-16 units: a mutex name may not hold backslashes,
    // and a path may be longer than a name may be.
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t unit : upper) {
        hash ^= uint16_t(unit);
        hash *= 1099511628211ull;
    }
    // Sixteen hexadecimal digits, written out: the wide printf family would
    // bring a second formatter into the program.
    std::wstring name = L"Local\\installerworkspace-";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xf];
    return name;
}

bool lockworkspace(const std::wstring& workspace)
{
    kernelhandle mutex(CreateMutexW(nullptr, FALSE, workspacelockname(workspace).c_str()));
    if (!mutex) return false;
    // Abandoned: the installer before this one ended without releasing it,
    // which also hands it over.
    DWORD waited = WaitForSingleObject(mutex.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    workspacelock = std::move(mutex);
    return true;
}

bool tokenelevated()
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

std::string tokenuser()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::string();
    kernelhandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::string();
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::string();
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) return std::string();
    return std::string(static_cast<const char*>(sid), GetLengthSid(sid));
}

workspacedescriptor::workspacedescriptor(PSID user)
{
    DWORD systemsize = sizeof system, administratorssize = sizeof administrators;
    if (!user || !IsValidSid(user) || !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemsize) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorssize))
        return;
    PACL list = dacl();
    ready = InitializeAcl(list, sizeof acl, ACL_REVISION) &&
            AddAccessAllowedAceEx(list, ACL_REVISION, INHERITED_BELOW, FILE_ALL_ACCESS, system) &&
            AddAccessAllowedAceEx(list, ACL_REVISION, INHERITED_BELOW, FILE_ALL_ACCESS, administrators) &&
            AddAccessAllowedAceEx(list, ACL_REVISION, INHERITED_BELOW, READ_AND_EXECUTE, user) &&
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorOwner(&descriptor, administrators, FALSE) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

workspacedescriptor::~workspacedescriptor() = default;

bool takeoverworkspace(const std::wstring& workspace)
{
    if (isreparsepoint(GetFileAttributesW(workspace.c_str()))) return false;
    std::string user = tokenuser();
    workspacedescriptor descriptor(user.empty() ? nullptr : PSID(&user[0]));
    if (!descriptor.get()) return false;
    // Administrators may take the owner of what the user made, whatever its DACL says.
    enableprivilege(L"SeTakeOwnershipPrivilege");
    enableprivilege(L"SeRestorePrivilege");
    filehandle directory = openforsecurity(workspace, descriptor);
    if (!directory || !isplain(directory.get(), workspace, std::wstring()) || !plainbelowparent(workspace))
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(directory.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return applydescriptor(directory.get(), descriptor);
}

bool claimworkspace(const std::wstring& workspace)
{
    std::string user = tokenuser();
    workspacedescriptor descriptor(user.empty() ? nullptr : PSID(&user[0]));
    if (!descriptor.get()) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    // One more round when a link stood there and could be removed.
    for (int round = 0; round < 2; ++round) {
        bool created = CreateDirectoryW(workspace.c_str(), &attributes) != 0;
        if (!created && isreparsepoint(GetFileAttributesW(workspace.c_str()))) {
            if (!removelink(workspace)) return false;
            continue;
        }
        // No shared deletion: the directory cannot be renamed or removed
        // while this process runs, so its path stays this directory.
        filehandle directory = openforsecurity(workspace, descriptor);
        if (!directory || !plainbelowparent(workspace)) return false;
        // What stayed of an earlier workspace gets the same descriptor.
        if (!created && !applydescriptor(directory.get(), descriptor)) return false;
        heldworkspace = std::move(directory);
        return true;
    }
    return false;
}

bool workspaceisplain() { return plainbelowparent(workspacedirw() + L"setup"); }
