#include "workspace.h"

#include "filesystem.h"
#include "linkcheck.h"
#include "logline.h"
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
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Sixteen hexadecimal digits of value, written out: the wide printf family
// would bring a second formatter into the program.
std::wstring hexdigits(uint64_t value)
{
    std::wstring digits;
    for (int shift = 60; shift >= 0; shift -= 4) digits += L"0123456789abcdef"[(value >> shift) & 0xf];
    return digits;
}

struct identity {
    DWORD volume = 0;
    DWORD high = 0;
    DWORD low = 0;
    bool operator==(const identity& other) const
    {
        return volume == other.volume && high == other.high && low == other.low;
    }
};

bool identify(HANDLE handle, identity& id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
    return true;
}

// True when something (a file, a directory, a link, also one whose target is
// missing) stands at path.
bool occupied(const std::wstring& path)
{
    if (filesystem.attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return true;
    WIN32_FIND_DATAW found;
    findfilehandle listed(FindFirstFileW(path.c_str(), &found));
    return bool(listed);
}

// Moves the plain directory or file that stands at workspace aside under a
// new name beside it: nothing of it is read, run or deleted. A link that
// could not be removed is not moved (Wine would move its target).
bool moveaside(const std::wstring& workspace)
{
    std::wstring expected;
    if (!expectedbelowparent(workspace, expected)) return false;
    filehandle leftover = openitself(workspace, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL);
    if (!leftover || !isplain(leftover.get(), workspace, expected)) return false;
    uint64_t seed = (uint64_t(GetCurrentProcessId()) << 32) ^ GetTickCount();
    for (int round = 0; round < 8; ++round) {
        std::wstring aside = workspace + L"." + hexdigits(seed + uint64_t(round)).substr(8);
        // A name already taken is simply not used: the rename never replaces.
        if (filesystem.renamethrough(leftover.get(), aside.c_str())) {
            logline("main", "intitemp", 393, "left <%s> as <%s>\n", widetoansi(workspace).c_str(),
                    widetoansi(aside).c_str());
            return true;
        }
    }
    return false;
}

} // namespace

std::wstring workspacelockname(const std::wstring& temp)
{
    filehandle directory(filesystem.createfile(temp.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS));
    identity id;
    if (directory && identify(directory.get(), id))
        return L"Local\\installerworkspace-" + hexdigits(id.volume).substr(8) + hexdigits(id.high).substr(8) +
               hexdigits(id.low).substr(8);
    std::wstring upper = temp;
    while (!upper.empty() && upper.back() == L'\\') upper.pop_back();
    if (!upper.empty()) CharUpperBuffW(&upper[0], DWORD(upper.size()));
    // FNV-1a over the UTF-16 units: a mutex name may not hold backslashes,
    // and a path may be longer than a name may be.
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t unit : upper) {
        hash ^= uint16_t(unit);
        hash *= 1099511628211ull;
    }
    return L"Local\\installerworkspace-" + hexdigits(hash);
}

bool lockworkspace(const std::wstring& temp)
{
    kernelhandle mutex(CreateMutexW(nullptr, FALSE, workspacelockname(temp).c_str()));
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

int checktemporary(const std::wstring& temp)
{
    // Opened through a link on the way (the user's temporary directory may
    // lie anywhere), but as what it is: no backup semantics privilege is ever
    // enabled, so this is an open like any other.
    filehandle directory(filesystem.createfile(temp.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    std::string user = tokenuser();
    unsigned char owner[SECURITY_MAX_SID_SIZE];
    if (!directory || user.empty() || !filesystem.ownerof(directory.get(), owner) ||
        !EqualSid(PSID(owner), PSID(&user[0])))
        return WORKSPACE_TEMP_NOT_OWNED;
    DWORD flags = 0;
    if (!filesystem.volumeflags(temp.c_str(), &flags) || !(flags & FILE_PERSISTENT_ACLS)) return WORKSPACE_NO_ACLS;
    return WORKSPACE_READY;
}

int prepareworkspace(const std::wstring& workspace, bool elevated)
{
    heldworkspace.reset();
    // What the deletion before could not remove (files held open or
    // read-only, links that stay) is never adopted.
    if (occupied(workspace) && !moveaside(workspace)) return WORKSPACE_IN_USE;
    std::string user = tokenuser();
    workspacedescriptor descriptor(user.empty() ? nullptr : PSID(&user[0]));
    if (elevated && !descriptor.get()) return WORKSPACE_NOT_MADE;
    // Listing access takes part in sharing checks: without shared deletion
    // nobody can rename it away and put another in its place.
    HANDLE made = filesystem.createdirectorynew(
        workspace.c_str(), elevated ? static_cast<SECURITY_DESCRIPTOR*>(descriptor.get()) : nullptr,
        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (made == INVALID_HANDLE_VALUE) return WORKSPACE_NOT_MADE;
    heldworkspace = filehandle(made);
    return WORKSPACE_READY;
}

bool workspaceisheld(const std::wstring& workspace)
{
    if (!heldworkspace) return false;
    filehandle named = openitself(workspace, FILE_READ_ATTRIBUTES, SHARE_ALL);
    identity held, now;
    return named && isplain(named.get(), workspace, std::wstring()) && identify(heldworkspace.get(), held) &&
           identify(named.get(), now) && held == now;
}

void dropemptyworkspace(const std::wstring& workspace)
{
    if (!workspaceisheld(workspace)) return;
    identity held;
    if (!identify(heldworkspace.get(), held)) return;
    heldworkspace.reset();
    // Deleted only as the directory this process made, and only while empty.
    filehandle named = openitself(workspace, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    identity now;
    if (named && identify(named.get(), now) && held == now) deletethrough(named.get());
}
