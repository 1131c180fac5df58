#include "workspace.h"

#include "filelist.h"
#include "platform.h"
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

const BYTE INHERITED_BELOW = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Earlier workspaces moved aside that may stay beside the workspace (held
// open by someone, or not the elevated run's to delete); with as many
// there, no further one is made.
const int LEFTOVER_LIMIT = 16;
const wchar_t LEFTOVER_PREFIX[] = L"setup.";

// Sixteen hexadecimal digits of value, written out: the wide printf family
// would bring a second formatter into the program.
std::wstring hexdigits(uint64_t value)
{
    std::wstring digits;
    for (int shift = 60; shift >= 0; shift -= 4) digits += L"0123456789abcdef"[(value >> shift) & 0xf];
    return digits;
}

// Sixteen hexadecimal digits from the system's random number generator: a
// leftover's name nobody can know, so nobody can take it first. Empty when
// the generator fails.
std::wstring unpredictablesuffix()
{
    uint64_t value = 0;
    if (!platform.randombytes(&value, sizeof value)) return std::wstring();
    return hexdigits(value);
}

// A name earlier runs gave a leftover: setup. and 8 (older runs) or 16 hexadecimal digits.
bool isleftovername(const std::wstring& name)
{
    const size_t prefix = sizeof LEFTOVER_PREFIX / sizeof(wchar_t) - 1;
    if (name.compare(0, prefix, LEFTOVER_PREFIX) != 0) return false;
    size_t digits = name.size() - prefix;
    if (digits != 8 && digits != 16) return false;
    for (size_t i = prefix; i < name.size(); ++i)
        if (!iswxdigit(name[i])) return false;
    return true;
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

bool issid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    unsigned char known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return sid && IsValidSid(sid) && CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, PSID(known));
}

bool isadministratorssid(PSID sid) { return issid(sid, WinBuiltinAdministratorsSid) || issid(sid, WinLocalSystemSid); }

enum useraccess {
    USER_MAY,
    USER_MAY_NOT,
    // The process has no less privileged twin: nobody to guard against.
    NO_LESSER_USER,
};

// Whether the user's own token without elevation would be granted access
// to what is open as object (with READ_CONTROL): the system's own access
// check against the object's descriptor, nothing enabled or assumed.
useraccess usermay(HANDLE object, DWORD access)
{
    kernelhandle token(platform.limitedtoken());
    if (!token) return NO_LESSER_USER;
    std::vector<unsigned char> descriptor;
    if (!platform.descriptorof(object, descriptor)) return USER_MAY_NOT;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    // Room for the privileges the check may name.
    DWORD privileges[64];
    DWORD length = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor.data(), token.get(), access, &mapping, reinterpret_cast<PRIVILEGE_SET*>(privileges),
                     &length, &granted, &allowed))
        return USER_MAY_NOT;
    return allowed && (granted & access) == access ? USER_MAY : USER_MAY_NOT;
}

// Owned by Administrators (or SYSTEM), and no entry of the DACL lets anyone
// else in: what an elevated run made. A user's own process can make
// neither such an owner nor such an object.
bool onlyadministrators(HANDLE object)
{
    std::vector<unsigned char> descriptor;
    if (!platform.descriptorof(object, descriptor)) return false;
    PSECURITY_DESCRIPTOR sd = descriptor.data();
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !isadministratorssid(owner)) return false;
    // No DACL at all lets everyone in.
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return false;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        PSID sid = PSID(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        if (!isadministratorssid(sid)) return false;
    }
    return true;
}

// True when the held directory is the system's own: the Windows directory,
// the system directory or the 32-bit system directory of 64-bit Windows.
bool isdirectoryofsystem(HANDLE held)
{
    identity id;
    if (!identify(held, id)) return true;
    const auto wow64directory = platform.wow64directory;
    for (int which = 0; which < 3; ++which) {
        wchar_t directory[MAX_PATH + 1];
        UINT n = 0;
        if (which == 0) n = GetWindowsDirectoryW(directory, MAX_PATH);
        if (which == 1) n = GetSystemDirectoryW(directory, MAX_PATH);
        if (which == 2 && wow64directory) n = wow64directory(directory, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) continue;
        filehandle opened(platform.createfile(directory, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS));
        identity system;
        if (opened && identify(opened.get(), system) && system == id) return true;
    }
    return false;
}

// True when something (a file, a directory, a link, also one whose target is
// missing) stands at path.
bool occupied(const std::wstring& path)
{
    if (platform.attributes(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return true;
    WIN32_FIND_DATAW found;
    findfilehandle listed(FindFirstFileW(path.c_str(), &found));
    return bool(listed);
}

// The names of the leftovers of earlier runs beside the workspace.
std::vector<std::wstring> leftovernames(const std::wstring& workspacedir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    findfilehandle listing(FindFirstFileW((workspacedir + LEFTOVER_PREFIX + L"*").c_str(), &found));
    if (!listing) return names;
    do {
        if (isleftovername(found.cFileName)) names.push_back(found.cFileName);
    } while (FindNextFileW(listing.get(), &found));
    return names;
}

// Moves the plain directory or file that stands at the run's workspace aside
// under a new name beside it, nobody's to predict: nothing of it is read, run
// or deleted. A link that could not be removed is not moved (Wine would move
// its target); elevated, only what the run may delete is moved.
bool moveaside(const installrun& run)
{
    const std::wstring workspace = run.setupdirw();
    std::wstring expected;
    if (!expectedbelowparent(workspace, expected)) return false;
    filehandle leftover = openitself(workspace, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, SHARE_ALL);
    if (!leftover || !isplain(leftover.get(), workspace, expected)) return false;
    if (run.elevated && !elevatedmaydelete(leftover.get(), run.temporary.get())) return false;
    if (int(leftovernames(run.workspacedirw).size()) >= LEFTOVER_LIMIT) return false;
    for (int round = 0; round < 4; ++round) {
        std::wstring suffix = unpredictablesuffix();
        if (suffix.empty()) return false;
        std::wstring name = LEFTOVER_PREFIX + suffix;
        // A name already taken is simply not used: the rename never replaces.
        bool renamed = run.temporary
                           ? platform.renamethrough(leftover.get(), run.temporary.get(), name.c_str())
                           : platform.renamethrough(leftover.get(), nullptr, (run.workspacedirw + name).c_str());
        if (renamed) {
            logline("main", "intitemp", 393, "left <%s> as <%s>\n", widetoansi(workspace).c_str(),
                    widetoansi(run.workspacedirw + name).c_str());
            return true;
        }
    }
    return false;
}

// Polled while a shown installer waits: the lock is taken on the waiting
// thread itself (a mutex belongs to the thread that took it), and the box
// that says it waits goes once it is.
HANDLE pollingfor = nullptr;
bool polltaken = false;

BOOL CALLBACK closebox(HWND window, LPARAM)
{
    wchar_t name[16];
    if (GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

void CALLBACK polllock(HWND, UINT, UINT_PTR, DWORD)
{
    if (polltaken) return;
    DWORD waited = platform.waitfor(pollingfor, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;
    polltaken = true;
    EnumThreadWindows(GetCurrentThreadId(), closebox, 0);
}

// Shows that the run waits until the lock is taken or the user stops
// waiting; true when taken.
bool waitinabox(HANDLE mutex)
{
    pollingfor = mutex;
    polltaken = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 200, polllock);
    while (!polltaken) {
        int answer = MessageBoxW(nullptr,
                                 L"Another installation is in progress. This one goes on by itself as soon as it "
                                 L"has finished; Cancel stops it.",
                                 L"Morvane\u5b89\u88c5\u7a0b\u5e8f", MB_RETRYCANCEL | MB_ICONINFORMATION);
        if (polltaken) break;
        DWORD waited = platform.waitfor(mutex, 0);
        polltaken = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        if (answer != IDRETRY) break;
    }
    if (timer) KillTimer(nullptr, timer);
    return polltaken;
}

} // namespace

const char* workspacerefusal(workspaceresult result)
{
    switch (result) {
    case WORKSPACE_READY:
    case WORKSPACE_NO_NARROW_NAME: return "";
    case WORKSPACE_TEMP_UNOPENED: return "the temporary directory cannot be opened";
    case WORKSPACE_TEMP_OF_SYSTEM: return "the temporary directory is a directory of the system";
    case WORKSPACE_TEMP_NOT_WRITABLE: return "the user may not make directories in the temporary directory";
    case WORKSPACE_NO_ACLS: return "the temporary directory keeps no access control lists";
    case WORKSPACE_IN_USE: return "it is in use and cannot be moved aside";
    case WORKSPACE_NOT_MADE: return "it cannot be created";
    case WORKSPACE_LOCKED: return "its lock cannot be taken";
    }
    return "";
}

std::wstring workspacelockname(const std::wstring& temp)
{
    filehandle directory(platform.createfile(temp.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING,
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

workspaceresult lockworkspace(const installrun& run)
{
    kernelhandle mutex(CreateMutexW(nullptr, FALSE, workspacelockname(run.workspacedirw).c_str()));
    if (!mutex) return WORKSPACE_LOCKED;
    // Abandoned: the installer before this one ended without releasing it,
    // which also hands it over.
    DWORD waited = platform.waitfor(mutex.get(), 0);
    bool taken = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!taken && waited == WAIT_TIMEOUT) {
        logline("main", "intitemp", 396, "waiting for the installer that works in <%s>\n",
                widetoansi(run.setupdirw()).c_str());
        if (run.hidden) {
            waited = platform.waitfor(mutex.get(), HIDDEN_LOCK_WAIT_MS);
            taken = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        } else {
            taken = waitinabox(mutex.get());
        }
    }
    if (!taken) return WORKSPACE_LOCKED;
    workspacelock = std::move(mutex);
    return WORKSPACE_READY;
}

workspacedescriptor::workspacedescriptor()
{
    DWORD systemsize = sizeof system, administratorssize = sizeof administrators;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemsize) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorssize))
        return;
    PACL list = dacl();
    ready = InitializeAcl(list, sizeof acl, ACL_REVISION) &&
            AddAccessAllowedAceEx(list, ACL_REVISION, INHERITED_BELOW, FILE_ALL_ACCESS, system) &&
            AddAccessAllowedAceEx(list, ACL_REVISION, INHERITED_BELOW, FILE_ALL_ACCESS, administrators) &&
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorOwner(&descriptor, administrators, FALSE) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) &&
            SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

workspacedescriptor::~workspacedescriptor() = default;

workspaceresult checktemporary(const installrun& run)
{
    HANDLE held = run.temporary.get();
    if (!run.temporary) return WORKSPACE_TEMP_UNOPENED;
    // Whatever its descriptor says (Wine's say nothing): no install works there.
    if (isdirectoryofsystem(held)) return WORKSPACE_TEMP_OF_SYSTEM;
    useraccess write = usermay(held, FILE_ADD_SUBDIRECTORY);
    if (write == USER_MAY_NOT) return WORKSPACE_TEMP_NOT_WRITABLE;
    // Without a less privileged user there is nobody to keep out.
    if (write == NO_LESSER_USER) return WORKSPACE_READY;
    DWORD flags = 0;
    if (!platform.volumeflags(run.workspacedirw.c_str(), &flags) || !(flags & FILE_PERSISTENT_ACLS))
        return WORKSPACE_NO_ACLS;
    return WORKSPACE_READY;
}

bool elevatedmaydelete(HANDLE item, HANDLE parent)
{
    useraccess itself = usermay(item, DELETE);
    if (itself != USER_MAY_NOT) return true;
    if (parent && usermay(parent, FILE_DELETE_CHILD) == USER_MAY) return true;
    return onlyadministrators(item);
}

void removeleftovers(const installrun& run)
{
    if (run.workspacedir.empty()) return;
    for (const std::wstring& name : leftovernames(run.workspacedirw))
        filelist::deletepath(run.workspacedir + widetoansi(name), run.elevated ? elevatedmaydelete : nullptr,
                             run.temporary.get());
}

workspaceresult prepareworkspace(const installrun& run)
{
    heldworkspace.reset();
    const std::wstring workspace = run.setupdirw();
    // What the deletion before could not remove (files held open or
    // read-only, links that stay, what the run may not delete) is never adopted.
    if (occupied(workspace) && !moveaside(run)) return WORKSPACE_IN_USE;
    workspacedescriptor descriptor;
    if (run.elevated && !descriptor.get()) return WORKSPACE_NOT_MADE;
    SECURITY_DESCRIPTOR* made = run.elevated ? static_cast<SECURITY_DESCRIPTOR*>(descriptor.get()) : nullptr;
    // Listing access takes part in sharing checks: without shared deletion
    // nobody can rename it away and put another in its place.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    // Made below the held directory by a name relative to it.
    HANDLE opened = run.temporary ? platform.createdirectorynew(run.temporary.get(), L"setup", made, access, share)
                                  : platform.createdirectorynew(nullptr, workspace.c_str(), made, access, share);
    if (opened == INVALID_HANDLE_VALUE) return WORKSPACE_NOT_MADE;
    heldworkspace = filehandle(opened);
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
