// The installer's file-system steps driven through their seam (platform.h):
// the conditions a standard user's own processes or a file system produce on
// Windows and that neither Wine nor a test's own account can (a read-only
// leftover that will not go, a workspace held open, ownership that cannot be
// read, a volume without ACLs, a directory the process cannot enter, a
// resolved path that cannot be read). Each ends in the sound outcome: the
// install goes on in a fresh workspace, or it stops; none is ignored.
#include "dataunzip.h"
#include "platform.h"
#include "harness.h"
#include "installer.h"
#include "linkcheck.h"
#include "pathhelpers.h"
#include "workspace.h"
#include "ziptestkit.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using harness::fileexists;
using testfiles::readfile;
using testfiles::writefile;

namespace {

// The system's calls again when a test ends.
struct restorecalls {
    platformcalls saved = platform;
    ~restorecalls() { platform = saved; }
};

const platformcalls systemcalls = systemplatform();

// A run whose temporary directory is temp (with its trailing backslash),
// held as a start holds it.
installrun runin(const std::wstring& temp, bool elevated)
{
    installrun run;
    run.workspacedirw = temp;
    run.workspacedir = widetoansi(temp);
    run.elevated = elevated;
    holdtemporary(run);
    // A test's temporary directory is named as the system names it: nothing
    // to pin, and nothing pinned for the next test.
    pinworkspacedir(std::wstring());
    return run;
}

// Fakes: each stands for one condition of the real system.
bool refusedelete(HANDLE) { return false; }
bool refuserename(HANDLE, HANDLE, const wchar_t*) { return false; }
HANDLE refusecreate(HANDLE, const wchar_t*, SECURITY_DESCRIPTOR*, DWORD, DWORD) { return INVALID_HANDLE_VALUE; }
// Another process makes the directory between the deletion and the creation.
HANDLE takenfirst(HANDLE parent, const wchar_t* name, SECURITY_DESCRIPTOR* descriptor, DWORD access, DWORD share)
{
    std::wstring path = resolvedpath(parent) + L"\\" + name;
    CreateDirectoryW(path.c_str(), nullptr);
    return systemcalls.createdirectorynew(parent, name, descriptor, access, share);
}

// Descriptors as Windows keeps them (Wine keeps none): one for the temporary
// directory, one for everything below it; "{user}" stands for the user's SID.
std::wstring tempdescriptor;
std::wstring belowdescriptor;

std::wstring usersid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    unsigned char buffer[256];
    DWORD size = 0;
    std::wstring text;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

bool described(HANDLE handle, std::vector<unsigned char>& descriptor)
{
    std::wstring path = resolvedpath(handle);
    std::wstring text = path.find(L"\\setup") == std::wstring::npos ? tempdescriptor : belowdescriptor;
    size_t user = text.find(L"{user}");
    while (user != std::wstring::npos) {
        text.replace(user, 6, usersid());
        user = text.find(L"{user}");
    }
    PSECURITY_DESCRIPTOR made = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, &size))
        return false;
    descriptor.assign(static_cast<unsigned char*>(made), static_cast<unsigned char*>(made) + size);
    LocalFree(made);
    return true;
}
// A standard user's token as Windows links it to an elevated one: the
// Administrators group only denies (Wine's own linked token keeps it).
HANDLE standardusertoken()
{
    HANDLE process = nullptr, restricted = nullptr, identification = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &process))
        return nullptr;
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
    SID_AND_ATTRIBUTES denied = {PSID(administrators), 0};
    if (CreateRestrictedToken(process, 0, 1, &denied, 0, nullptr, 0, nullptr, &restricted))
        DuplicateToken(restricted, SecurityIdentification, &identification);
    if (restricted) CloseHandle(restricted);
    CloseHandle(process);
    return identification;
}
void describe(const wchar_t* temp, const wchar_t* below)
{
    tempdescriptor = temp;
    belowdescriptor = below;
    platform.descriptorof = described;
    platform.limitedtoken = standardusertoken;
}
bool descriptorunreadable(HANDLE, std::vector<unsigned char>&) { return false; }
// The built-in Administrator, UAC turned off, an administrator of Windows
// Server: a full token of its own, no less privileged twin.
HANDLE nolimitedtoken() { return nullptr; }

// The user's temporary directory, with full control for the user.
const wchar_t USERS_OWN[] = L"O:{user}G:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;{user})";
// Made again by an elevated tool, or by SYSTEM through policy: the user
// still has full control, inherited.
const wchar_t ADMINISTRATORS_OWN[] = L"O:BAG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;{user})";
const wchar_t SYSTEMS_OWN[] = L"O:SYG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;{user})";
// TEMP=C:\Windows as Windows protects it: the user reads and runs.
const wchar_t SYSTEM_DIRECTORY[] = L"O:SYG:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)";
// A directory shared by everyone: the user may add, not delete what others made.
const wchar_t SHARED[] = L"O:SYG:SYD:(A;OICI;FA;;;SY)(A;;0x1200af;;;{user})";
// What an elevated run made: administrators only.
const wchar_t ADMINISTRATORS_ONLY[] = L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Someone else's tree, readable by everyone.
const wchar_t SOMEONE_ELSES[] = L"O:SYG:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)";
bool noacls(const wchar_t*, DWORD* flags)
{
    *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    return true;
}
bool flagsunreadable(const wchar_t*, DWORD*) { return false; }
DWORD unresolvable(HANDLE, wchar_t*, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}
bool cannotenter(const char*) { return false; }
// No name nobody can predict: a leftover is then not moved aside at all.
bool norandomnumbers(void*, ULONG) { return false; }

struct PrepareRow {
    const char* name;
    void (*fake)();
    bool elevated;
    bool leftover; // an earlier tree with the setup program stands at the workspace
    int expected;
    bool movedaside = false; // the earlier tree is moved aside rather than deleted
};

// Whether anything stands at setup.<...> beside the workspace.
bool anythingaside(const std::wstring& temp)
{
    WIN32_FIND_DATAW found;
    findfilehandle listing(FindFirstFileW((temp + L"setup.*").c_str(), &found));
    if (!listing) return false;
    do {
        if (std::wstring(found.cFileName) != L"setup") return true;
    } while (FindNextFileW(listing.get(), &found));
    return false;
}

std::ostream& operator<<(std::ostream& os, const PrepareRow& row) { return os << row.name; }

const PrepareRow prepareRows[] = {
    {"leftover_that_cannot_be_deleted_is_moved_aside", [] { platform.deletethrough = refusedelete; }, true, true,
     WORKSPACE_READY, true},
    {"leftover_that_can_be_neither_deleted_nor_moved",
     [] {
         platform.deletethrough = refusedelete;
         platform.renamethrough = refuserename;
     },
     true, true, WORKSPACE_IN_USE},
    {"create_refused", [] { platform.createdirectorynew = refusecreate; }, true, false, WORKSPACE_NOT_MADE},
    {"made_by_another_process_in_between", [] { platform.createdirectorynew = takenfirst; }, true, false,
     WORKSPACE_NOT_MADE},
    {"temp_owned_by_administrators_the_user_may_write", [] { describe(ADMINISTRATORS_OWN, ADMINISTRATORS_OWN); }, true,
     true, WORKSPACE_READY},
    {"temp_owned_by_system_the_user_may_write", [] { describe(SYSTEMS_OWN, SYSTEMS_OWN); }, true, true,
     WORKSPACE_READY},
    {"temp_the_user_may_not_write", [] { describe(SYSTEM_DIRECTORY, SYSTEM_DIRECTORY); }, true, true,
     WORKSPACE_TEMP_NOT_WRITABLE},
    {"temp_descriptor_unreadable", [] { platform.descriptorof = descriptorunreadable; }, true, true,
     WORKSPACE_TEMP_NOT_WRITABLE},
    {"no_limited_token_temp_the_user_may_not_write",
     [] {
         describe(SYSTEM_DIRECTORY, SYSTEM_DIRECTORY);
         platform.limitedtoken = nolimitedtoken;
     },
     true, true, WORKSPACE_READY},
    {"no_limited_token_volume_without_acls",
     [] {
         platform.limitedtoken = nolimitedtoken;
         platform.volumeflags = noacls;
     },
     true, true, WORKSPACE_READY},
    {"leftover_made_by_an_elevated_run_is_deleted", [] { describe(USERS_OWN, ADMINISTRATORS_ONLY); }, true, true,
     WORKSPACE_READY},
    {"someone_elses_tree_in_a_shared_temp_stays_whole", [] { describe(SHARED, SOMEONE_ELSES); }, true, true,
     WORKSPACE_IN_USE},
    {"volume_without_acls", [] { platform.volumeflags = noacls; }, true, false, WORKSPACE_NO_ACLS},
    {"volume_flags_unreadable", [] { platform.volumeflags = flagsunreadable; }, true, false, WORKSPACE_NO_ACLS},
    {"volume_without_acls_not_elevated", [] { platform.volumeflags = noacls; }, false, true, WORKSPACE_READY},
    {"no_random_numbers_for_a_new_name",
     [] {
         platform.deletethrough = refusedelete;
         platform.randombytes = norandomnumbers;
     },
     true, true, WORKSPACE_IN_USE},
    {"resolved_path_unreadable", [] { platform.finalpath = unresolvable; }, true, true, WORKSPACE_IN_USE},
};

class PrepareWorkspace : public testing::TestWithParam<PrepareRow> {};

TEST_P(PrepareWorkspace, GoesOnFreshOrStops)
{
    const PrepareRow& row = GetParam();
    std::wstring temp = harness::testscratchdir() + L"\\";
    std::wstring setup = temp + L"setup";
    if (row.leftover) {
        CreateDirectoryW(setup.c_str(), nullptr);
        ASSERT_TRUE(writefile(setup + L"\\rEdizo.exe", "the user's own program"));
    }
    installrun run = runin(temp, row.elevated);
    int result;
    {
        restorecalls restore;
        row.fake();
        result = intitemp(run);
    }
    EXPECT_EQ(result, row.expected);
    EXPECT_EQ(anythingaside(temp), row.movedaside);
    if (row.expected == WORKSPACE_READY) {
        EXPECT_TRUE(workspaceisheld(setup));
        EXPECT_FALSE(fileexists(setup + L"\\rEdizo.exe")) << "nothing of an earlier tree is adopted";
        // Held without shared deletion: nobody renames it away and puts another in its place.
        EXPECT_FALSE(MoveFileExW(setup.c_str(), (temp + L"elsewhere").c_str(), 0));
        EXPECT_TRUE(workspaceisheld(setup));
    } else {
        EXPECT_FALSE(workspaceisheld(setup));
    }
    if (row.expected != WORKSPACE_READY && row.expected != WORKSPACE_NOT_MADE) {
        EXPECT_EQ(readfile(setup + L"\\rEdizo.exe"), row.leftover ? "the user's own program" : "")
            << "nothing is deleted or moved where the run may not";
    }
    // Let it go, so the next test's scratch directory can be removed.
    dropemptyworkspace(setup);
}

INSTANTIATE_TEST_SUITE_P(Rows, PrepareWorkspace, testing::ValuesIn(prepareRows),
                         [](const testing::TestParamInfo<PrepareRow>& info) { return std::string(info.param.name); });

// A file with a second name is a link to data someone else can reach, and
// a path the system cannot resolve is not taken on trust.
TEST(LinkChecks, HardLinksAndUnresolvablePathsAreNotPlain)
{
    std::wstring dir = harness::testscratchdir();
    ASSERT_TRUE(writefile(dir + L"\\single.txt", "one name"));
    ASSERT_TRUE(writefile(dir + L"\\linked.txt", "two names"));
    ASSERT_TRUE(CreateHardLinkW((dir + L"\\second.txt").c_str(), (dir + L"\\linked.txt").c_str(), nullptr));
    linkcheck checked(dir);
    EXPECT_TRUE(checked.plainornew(L"single.txt"));
    EXPECT_TRUE(checked.plainornew(L"new.txt"));
    EXPECT_FALSE(checked.plainornew(L"linked.txt"));
    {
        restorecalls restore;
        platform.finalpath = unresolvable;
        linkcheck unresolved(dir);
        EXPECT_FALSE(unresolved.plainornew(L"single.txt"));
        EXPECT_TRUE(unresolved.plainornew(L"new.txt")) << "what does not exist yet has nothing to resolve";
    }
}

// A package of one entry below a temporary directory of the test's own.
struct onepackage {
    std::wstring temp;
    std::wstring path;
    std::string oldtemp;
};

onepackage writepackage()
{
    onepackage p;
    p.temp = harness::testscratchdir() + L"\\";
    p.path = p.temp + L"package.exe";
    std::string a = ziptest::makezip({ziptest::handentry("setup\\rEdizo.exe", "program")});
    writefile(p.path, ziptest::makepackage("stub", a, ziptest::makezip({})));
    CreateDirectoryW((p.temp + L"setup").c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", p.temp.c_str());
    SetEnvironmentVariableW(L"TEMP", p.temp.c_str());
    return p;
}

// A run of package p below its temporary directory, its file open as at a start.
installrun runof(const onepackage& p)
{
    installrun run = runin(p.temp, false);
    run.package = filehandle(CreateFileW(p.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    return run;
}

struct restoretemp {
    std::wstring tmp = std::wstring(32768, L'\0');
    std::wstring temp = std::wstring(32768, L'\0');
    restoretemp()
    {
        tmp.resize(GetEnvironmentVariableW(L"TMP", &tmp[0], DWORD(tmp.size())));
        temp.resize(GetEnvironmentVariableW(L"TEMP", &temp[0], DWORD(temp.size())));
    }
    ~restoretemp()
    {
        SetEnvironmentVariableW(L"TMP", tmp.empty() ? nullptr : tmp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.empty() ? nullptr : temp.c_str());
    }
};

// Where the workspace's directory cannot be entered (a drive the elevated
// token does not see, a directory removed meanwhile), nothing is written
// relative to whatever directory is current instead.
TEST(ChangeOfDirectory, FailedOpenLeavesTheReaderClosed)
{
    restoretemp keep;
    onepackage p = writepackage();
    char computedA[64] = {}, computedB[64] = {};
    dataunzip reader;
    {
        restorecalls restore;
        platform.changedirectory = cannotenter;
        reader.unzipfopen(p.path.c_str(), computedA, computedB);
    }
    EXPECT_EQ(reader.filecount, 0u);
    EXPECT_EQ(computedA[0], 0) << "an open that fails leaves the caller's buffers untouched";
    char name[512] = {};
    EXPECT_EQ(reader.readcurfile(name), -1);
}

TEST(ChangeOfDirectory, FailedWriteStopsTheEntry)
{
    restoretemp keep;
    onepackage p = writepackage();
    char computedA[64] = {}, computedB[64] = {};
    dataunzip reader;
    reader.unzipfopen(p.path.c_str(), computedA, computedB);
    ASSERT_EQ(reader.filecount, 1u);
    char name[512] = {};
    ASSERT_EQ(reader.readcurfile(name), 0);
    {
        restorecalls restore;
        platform.changedirectory = cannotenter;
        EXPECT_EQ(reader.filewrite(name, widetoansi(p.temp).c_str()), -1);
    }
    EXPECT_EQ(reader.failure(), ENTRY_WRITE_FAILED) << "not a file that is skipped: the extraction stops";
    reader.closeunzipfile();
    EXPECT_FALSE(fileexists(p.temp + L"setup\\rEdizo.exe"));
}

// A package that cannot be read leaves nothing of its own behind: the
// workspace made for it goes again, so no configuration or channel file is
// written into it either.
TEST(UnreadablePackage, LeavesNoWorkspace)
{
    restoretemp keep;
    onepackage p = writepackage();
    RemoveDirectoryW((p.temp + L"setup").c_str());
    ASSERT_TRUE(writefile(p.path, "not a package at all"));
    installrun run = runof(p);
    ASSERT_EQ(prepareworkspace(run), WORKSPACE_READY);
    extractionoutcome outcome = extractsetup(run);
    EXPECT_FALSE(outcome.opened);
    EXPECT_FALSE(fileexists(run.setupdirw())) << "no workspace, no configuration, no channel file";
    EXPECT_FALSE(workspaceisheld(run.setupdirw()));
}

// The package is read through the handle opened at the start: a file put
// in its place afterwards (a running program can be renamed) is not read.
TEST(PackageHandle, AReplacedPackageIsNotRead)
{
    restoretemp keep;
    onepackage p = writepackage();
    RemoveDirectoryW((p.temp + L"setup").c_str());
    installrun run = runof(p);
    ASSERT_TRUE(run.package);
    std::wstring moved = p.temp + L"renamed.exe";
    ASSERT_TRUE(MoveFileExW(p.path.c_str(), moved.c_str(), 0));
    std::string other = ziptest::makezip({ziptest::handentry("setup\\rEdizo.exe", "someone else's program")});
    ASSERT_TRUE(writefile(p.path, ziptest::makepackage("stub", other, ziptest::makezip({}))));
    ASSERT_EQ(prepareworkspace(run), WORKSPACE_READY);
    extractionoutcome outcome = extractsetup(run);
    EXPECT_TRUE(outcome.opened);
    EXPECT_TRUE(outcome.complete);
    EXPECT_EQ(readfile(run.setupdirw() + L"\\rEdizo.exe"), "program");
    dropemptyworkspace(run.setupdirw());
}

} // namespace

namespace {

// Names compare as NTFS compares them, case folded over all of Unicode: a
// leftover "Données" is the entry "DONNÉES", not a link.
TEST(LinkChecks, CaseFoldsBeyondAscii)
{
    std::wstring dir = harness::testscratchdir();
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\Donn\u00e9es").c_str(), nullptr));
    linkcheck checked(dir);
    EXPECT_TRUE(checked.plainornew(L"Donn\u00e9es"));
    EXPECT_TRUE(checked.plainornew(L"DONN\u00c9ES"));
}

} // namespace

namespace {

std::wstring madewith;

HANDLE recorddescriptor(HANDLE parent, const wchar_t* path, SECURITY_DESCRIPTOR* descriptor, DWORD access, DWORD share)
{
    madewith = L"(none)";
    wchar_t* text = nullptr;
    if (descriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        madewith = text;
        LocalFree(text);
    }
    return systemcalls.createdirectorynew(parent, path, descriptor, access, share);
}

// Wine keeps no DACLs: what the workspace is made with is read where it is
// handed to the system. Elevated, administrators only from its first moment;
// otherwise what the temporary directory passes on.
TEST(PrepareWorkspaceDescriptor, ElevatedOnlyAdministratorsFromTheStart)
{
    for (bool elevated : {true, false}) {
        std::wstring temp = harness::testscratchdir() + L"\\";
        installrun run = runin(temp, elevated);
        madewith.clear();
        {
            restorecalls restore;
            platform.createdirectorynew = recorddescriptor;
            EXPECT_EQ(intitemp(run), WORKSPACE_READY);
        }
        if (elevated) {
            EXPECT_EQ(madewith, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
        } else {
            EXPECT_EQ(madewith, L"(none)");
        }
        dropemptyworkspace(run.setupdirw());
    }
}

} // namespace

namespace {

std::wstring replacedpath;

// The workspace's name now shows a link (a directory replaced after it was made).
DWORD replacedbylink(const wchar_t* path)
{
    if (_wcsicmp(path, replacedpath.c_str()) == 0) return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return systemcalls.attributes(path);
}

// Whatever stands at the workspace's name when the worker starts or the
// hand-off comes must be the directory this run made: a link there is not
// extracted into, stamped or started from.
TEST(HeldWorkspace, ReplacedByALinkIsNotUsed)
{
    restoretemp keep;
    onepackage p = writepackage();
    RemoveDirectoryW((p.temp + L"setup").c_str());
    installrun run = runof(p);
    ASSERT_EQ(prepareworkspace(run), WORKSPACE_READY);
    replacedpath = run.setupdirw();
    extractionoutcome outcome;
    {
        restorecalls restore;
        platform.attributes = replacedbylink;
        EXPECT_FALSE(workspaceisheld(run.setupdirw()));
        outcome = extractsetup(run);
    }
    EXPECT_FALSE(outcome.opened);
    EXPECT_FALSE(fileexists(run.setupdirw() + L"\\rEdizo.exe"));
    EXPECT_TRUE(workspaceisheld(run.setupdirw()));
    dropemptyworkspace(run.setupdirw());
}

} // namespace

namespace {

// TEMP leads through a link the user owns (a junction on Windows; a
// symbolic link here). The run names the directory it held at the start by
// that directory's own path; retargeting the link afterwards sends nothing
// of the install elsewhere: not the deletion, not the new workspace.
TEST(HeldTemporary, ALinkAboveTheWorkspaceRetargetedLaterIsNotFollowed)
{
    std::wstring dir = harness::testscratchdir();
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\first").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\second").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\second\\setup").c_str(), nullptr));
    ASSERT_TRUE(writefile(dir + L"\\second\\setup\\rEdizo.exe", "the user's own program"));
    ASSERT_TRUE(harness::makeunixlink("first", dir + L"\\temp"));
    installrun run;
    run.workspacedirw = dir + L"\\temp\\";
    run.workspacedir = widetoansi(run.workspacedirw);
    run.elevated = true;
    ASSERT_TRUE(holdtemporary(run));
    harness::removeunixlink(dir + L"\\temp");
    ASSERT_TRUE(harness::makeunixlink("second", dir + L"\\temp"));
    EXPECT_EQ(harness::narrow(run.workspacedirw), harness::narrow(dir + L"\\first\\"));
    EXPECT_EQ(harness::narrow(workspacedirw()), harness::narrow(run.workspacedirw)) << "pinned for every later step";
    EXPECT_EQ(intitemp(run), WORKSPACE_READY);
    EXPECT_TRUE(workspaceisheld(dir + L"\\first\\setup"));
    EXPECT_EQ(readfile(dir + L"\\second\\setup\\rEdizo.exe"), "the user's own program");
    dropemptyworkspace(run.setupdirw());
    pinworkspacedir(std::wstring());
    harness::removeunixlink(dir + L"\\temp");
}

DWORD askedtowait = 0;
// The time limit of a hidden run passes at once.
DWORD timelimitpasses(HANDLE object, DWORD milliseconds)
{
    if (milliseconds == 0) return systemcalls.waitfor(object, 0);
    askedtowait = milliseconds;
    return WAIT_TIMEOUT;
}

struct heldlock {
    std::wstring name;
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI holdlock(void* param)
{
    heldlock* held = static_cast<heldlock*>(param);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, held->name.c_str());
    SetEvent(held->taken);
    WaitForSingleObject(held->release, INFINITE);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

// Another installer (here another thread, which a mutex tells apart like a
// process) holds the workspace: a hidden run waits a bounded time, never
// for ever, then stops without a box.
TEST(WorkspaceLock, AHiddenRunWaitsBoundedThenStops)
{
    std::wstring temp = harness::testscratchdir() + L"\\";
    installrun run = runin(temp, true);
    run.hidden = true;
    heldlock held;
    held.name = workspacelockname(temp);
    HANDLE holder = CreateThread(nullptr, 0, holdlock, &held, 0, nullptr);
    ASSERT_NE(holder, nullptr);
    WaitForSingleObject(held.taken, INFINITE);
    askedtowait = 0;
    workspaceresult result;
    {
        restorecalls restore;
        platform.waitfor = timelimitpasses;
        result = lockworkspace(run);
    }
    SetEvent(held.release);
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
    CloseHandle(held.taken);
    CloseHandle(held.release);
    EXPECT_EQ(result, WORKSPACE_LOCKED);
    EXPECT_EQ(askedtowait, HIDDEN_LOCK_WAIT_MS);
    EXPECT_NE(askedtowait, INFINITE);
}

// The file read is the image that runs: another file is not (a package put
// under the running program's name after it started), nor is an empty one.
TEST(RunningImage, OnlyTheStartedFileIsTheImage)
{
    wchar_t own[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
    auto opened = [](const std::wstring& path) {
        return filehandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    };
    filehandle self = opened(own);
    ASSERT_TRUE(self);
    EXPECT_TRUE(isrunningimage(self.get()));
    std::wstring dir = harness::testscratchdir();
    ASSERT_TRUE(CopyFileW(own, (dir + L"\\copy.exe").c_str(), FALSE));
    filehandle copy = opened(dir + L"\\copy.exe");
    EXPECT_FALSE(isrunningimage(copy.get())) << "the same bytes, another file";
    ASSERT_TRUE(writefile(dir + L"\\empty.exe", ""));
    filehandle empty = opened(dir + L"\\empty.exe");
    EXPECT_FALSE(isrunningimage(empty.get()));
    restorecalls restore;
    platform.mappedfilesthesame = nullptr;
    EXPECT_TRUE(isrunningimage(copy.get())) << "where the system cannot compare (no elevation there either)";
}

// The running program's file is renamed and another put under its name
// between the start and the open (a running image can be renamed): the
// program does not read it.
TEST(RunningImage, AFileSwappedInUnderTheProgramsNameIsNotOpened)
{
    wchar_t own[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
    std::wstring moved = std::wstring(own) + L".moved";
    ASSERT_TRUE(MoveFileExW(own, moved.c_str(), 0));
    bool swapped = CopyFileW(harness::standinsetupexe().c_str(), own, TRUE) != 0;
    filehandle opened = swapped ? openownfile() : filehandle();
    DeleteFileW(own);
    ASSERT_TRUE(MoveFileExW(moved.c_str(), own, 0));
    ASSERT_TRUE(swapped);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(openownfile()) << "its own file again";
}

std::wstring handedcommandline, handeddirectory;
BOOL recordstart(const wchar_t* application, wchar_t* commandline, const wchar_t* directory, STARTUPINFOW* startup,
                 PROCESS_INFORMATION* started)
{
    handedcommandline = commandline ? commandline : L"(none)";
    handeddirectory = directory ? directory : L"(inherited)";
    return systemcalls.createprocess(application, commandline, directory, startup, started);
}

// The setup program gets its own path in quotes and no arguments (Windows
// would cut an unquoted path with spaces into arguments; Wine quotes it),
// and, elevated, its own directory as the current one.
TEST(HandOff, QuotedPathAndItsDirectory)
{
    std::wstring dir = harness::testscratchdir() + L"\\John Smith";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    std::wstring program = dir + L"\\rEdizo.exe";
    ASSERT_TRUE(CopyFileW(harness::standinsetupexe().c_str(), program.c_str(), FALSE));
    SetEnvironmentVariableW(L"STANDIN_RECORD", (dir + L"\\record.txt").c_str());
    {
        restorecalls restore;
        platform.createprocess = recordstart;
        EXPECT_EQ(runsetup(widetoansi(program), widetoansi(dir)), 0);
    }
    SetEnvironmentVariableW(L"STANDIN_RECORD", nullptr);
    EXPECT_EQ(harness::narrow(handedcommandline), "\"" + harness::narrow(program) + "\"");
    EXPECT_EQ(harness::narrow(handeddirectory), harness::narrow(dir));
    std::string record = readfile(dir + L"\\record.txt");
    EXPECT_NE(record.find("cmdline=\"" + harness::narrow(program) + "\"\n"), std::string::npos) << record;
    EXPECT_NE(record.find("cwd=" + harness::narrow(dir) + "\n"), std::string::npos) << record;
}

// Leftovers of earlier runs (setup.<hex digits>) go when they can; other
// names beside them are not the installer's and stay.
TEST(Leftovers, EarlierOnesAreRemovedOthersStay)
{
    std::wstring temp = harness::testscratchdir() + L"\\";
    for (const wchar_t* name : {L"setup.0123abcd", L"setup.0123456789abcdef", L"setup.notmine", L"setup.backup"}) {
        ASSERT_TRUE(CreateDirectoryW((temp + name).c_str(), nullptr));
        ASSERT_TRUE(writefile(temp + name + L"\\file.txt", "x"));
    }
    installrun run = runin(temp, true);
    removeleftovers(run);
    EXPECT_FALSE(fileexists(temp + L"setup.0123abcd"));
    EXPECT_FALSE(fileexists(temp + L"setup.0123456789abcdef"));
    EXPECT_TRUE(fileexists(temp + L"setup.notmine\\file.txt"));
    EXPECT_TRUE(fileexists(temp + L"setup.backup\\file.txt"));
}

// A leftover that cannot be removed is moved aside under sixteen hex digits
// nobody can know before: never the same name twice.
TEST(Leftovers, MovedAsideUnderNamesNobodyPredicts)
{
    std::wstring temp = harness::testscratchdir() + L"\\";
    std::vector<std::wstring> names;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(CreateDirectoryW((temp + L"setup").c_str(), nullptr));
        ASSERT_TRUE(writefile(temp + L"setup\\held.txt", "held"));
        HANDLE held =
            CreateFileW((temp + L"setup\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        installrun run = runin(temp, true);
        EXPECT_EQ(intitemp(run), WORKSPACE_READY);
        CloseHandle(held);
        dropemptyworkspace(run.setupdirw());
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((temp + L"setup.*").c_str(), &found);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        do {
            std::wstring name = found.cFileName;
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    // The first leftover goes in the second run (nothing holds it any more).
    ASSERT_GE(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    for (const std::wstring& name : names) {
        ASSERT_EQ(name.size(), 6u + 16u) << harness::narrow(name);
        EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 6), std::wstring::npos) << harness::narrow(name);
    }
}

} // namespace
