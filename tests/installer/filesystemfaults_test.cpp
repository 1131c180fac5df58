// The installer's file-system steps driven through their seam (filesystem.h):
// the conditions a standard user's own processes or a file system produce on
// Windows and that neither Wine nor a test's own account can (a read-only
// leftover that will not go, a workspace held open, ownership that cannot be
// read, a volume without ACLs, a directory the process cannot enter, a
// resolved path that cannot be read). Each ends in the sound outcome: the
// install goes on in a fresh workspace, or it stops; none is ignored.
#include "dataunzip.h"
#include "filesystem.h"
#include "harness.h"
#include "installer.h"
#include "linkcheck.h"
#include "pathhelpers.h"
#include "workspace.h"
#include "ziptestkit.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

using harness::fileexists;
using testfiles::readfile;
using testfiles::writefile;

namespace {

// The system's calls again when a test ends.
struct restorecalls {
    filesystemcalls saved = filesystem;
    ~restorecalls() { filesystem = saved; }
};

const filesystemcalls systemcalls = systemfilesystem();

// A run whose temporary directory is temp (with its trailing backslash).
installrun runin(const std::wstring& temp, bool elevated)
{
    installrun run;
    run.workspacedirw = temp;
    run.workspacedir = widetoansi(temp);
    run.elevated = elevated;
    return run;
}

// Fakes: each stands for one condition of the real system.
bool refusedelete(HANDLE) { return false; }
bool refuserename(HANDLE, const wchar_t*) { return false; }
HANDLE refusecreate(const wchar_t*, SECURITY_DESCRIPTOR*, DWORD, DWORD) { return INVALID_HANDLE_VALUE; }
// Another process makes the directory between the deletion and the creation.
HANDLE takenfirst(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor, DWORD access, DWORD share)
{
    CreateDirectoryW(path, nullptr);
    return systemcalls.createdirectorynew(path, descriptor, access, share);
}
bool ownerunknown(HANDLE, void*) { return false; }
// TEMP names a directory of the system (TEMP=C:\Windows).
bool ownedbysystem(HANDLE, void* owner)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, owner, &size) != 0;
}
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

struct PrepareRow {
    const char* name;
    void (*fake)();
    bool elevated;
    bool leftover; // an earlier tree with the setup program stands at the workspace
    int expected;
};

std::ostream& operator<<(std::ostream& os, const PrepareRow& row) { return os << row.name; }

const PrepareRow prepareRows[] = {
    {"leftover_that_cannot_be_deleted_is_moved_aside", [] { filesystem.deletethrough = refusedelete; }, true, true,
     WORKSPACE_READY},
    {"leftover_that_can_be_neither_deleted_nor_moved",
     [] {
         filesystem.deletethrough = refusedelete;
         filesystem.renamethrough = refuserename;
     },
     true, true, WORKSPACE_IN_USE},
    {"create_refused", [] { filesystem.createdirectorynew = refusecreate; }, true, false, WORKSPACE_NOT_MADE},
    {"made_by_another_process_in_between", [] { filesystem.createdirectorynew = takenfirst; }, true, false,
     WORKSPACE_NOT_MADE},
    {"owner_of_temp_unknown", [] { filesystem.ownerof = ownerunknown; }, true, false, WORKSPACE_TEMP_NOT_OWNED},
    {"temp_owned_by_the_system", [] { filesystem.ownerof = ownedbysystem; }, true, true, WORKSPACE_TEMP_NOT_OWNED},
    {"volume_without_acls", [] { filesystem.volumeflags = noacls; }, true, false, WORKSPACE_NO_ACLS},
    {"volume_flags_unreadable", [] { filesystem.volumeflags = flagsunreadable; }, true, false, WORKSPACE_NO_ACLS},
    {"volume_without_acls_not_elevated", [] { filesystem.volumeflags = noacls; }, false, true, WORKSPACE_READY},
    {"resolved_path_unreadable", [] { filesystem.finalpath = unresolvable; }, true, true, WORKSPACE_IN_USE},
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
    if (row.expected == WORKSPACE_READY) {
        EXPECT_TRUE(workspaceisheld(setup));
        EXPECT_FALSE(fileexists(setup + L"\\rEdizo.exe")) << "nothing of an earlier tree is adopted";
        // Held without shared deletion: nobody renames it away and puts another in its place.
        EXPECT_FALSE(MoveFileExW(setup.c_str(), (temp + L"elsewhere").c_str(), 0));
        EXPECT_TRUE(workspaceisheld(setup));
    } else {
        EXPECT_FALSE(workspaceisheld(setup));
    }
    if (row.expected == WORKSPACE_TEMP_NOT_OWNED || row.expected == WORKSPACE_NO_ACLS) {
        EXPECT_EQ(readfile(setup + L"\\rEdizo.exe"), row.leftover ? "the user's own program" : "")
            << "nothing is touched in a temporary directory that cannot be protected";
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
        filesystem.finalpath = unresolvable;
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
        filesystem.changedirectory = cannotenter;
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
        filesystem.changedirectory = cannotenter;
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
    ASSERT_EQ(prepareworkspace(run.setupdirw(), false), WORKSPACE_READY);
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
    ASSERT_EQ(prepareworkspace(run.setupdirw(), false), WORKSPACE_READY);
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

HANDLE recorddescriptor(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor, DWORD access, DWORD share)
{
    madewith = L"(none)";
    wchar_t* text = nullptr;
    if (descriptor &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        madewith = text;
        LocalFree(text);
    }
    return systemcalls.createdirectorynew(path, descriptor, access, share);
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
            filesystem.createdirectorynew = recorddescriptor;
            EXPECT_EQ(intitemp(run), WORKSPACE_READY);
        }
        if (elevated) {
            const std::wstring administratorsonly = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;";
            EXPECT_EQ(madewith.compare(0, administratorsonly.size(), administratorsonly), 0)
                << harness::narrow(madewith);
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
    ASSERT_EQ(prepareworkspace(run.setupdirw(), true), WORKSPACE_READY);
    replacedpath = run.setupdirw();
    extractionoutcome outcome;
    {
        restorecalls restore;
        filesystem.attributes = replacedbylink;
        EXPECT_FALSE(workspaceisheld(run.setupdirw()));
        outcome = extractsetup(run);
    }
    EXPECT_FALSE(outcome.opened);
    EXPECT_FALSE(fileexists(run.setupdirw() + L"\\rEdizo.exe"));
    EXPECT_TRUE(workspaceisheld(run.setupdirw()));
    dropemptyworkspace(run.setupdirw());
}

} // namespace
