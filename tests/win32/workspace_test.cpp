// The workspace's security descriptor and lock name. Wine keeps no DACLs on
// files, so the descriptor is checked as the system reads it back (SDDL),
// and its use by the installer (which runs elevated under Wine) by the
// end-to-end tests.
#include "workspace.h"

#include "harness.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring sddl(PSECURITY_DESCRIPTOR descriptor)
{
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// Owner Administrators; DACL protected (P), inherited by files and
// directories below (OICI): full control (FA) for SYSTEM and Administrators,
// nothing for anyone else, the user included: no process of the user's
// opens, maps or locks a file of the workspace while the install runs.
TEST(Workspace, DescriptorOwnedByAdministratorsWithAProtectedDacl)
{
    workspacedescriptor descriptor;
    ASSERT_NE(descriptor.get(), nullptr);
    EXPECT_EQ(sddl(descriptor.get()), L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

// One directory, one lock, however its path is spelt.
TEST(Workspace, LockNameFollowsTheDirectoryNotItsSpelling)
{
    std::wstring dir = harness::testscratchdir();
    std::wstring upper = dir;
    CharUpperBuffW(&upper[0], DWORD(upper.size()));
    EXPECT_EQ(workspacelockname(dir), workspacelockname(upper + L"\\"));
    EXPECT_EQ(workspacelockname(dir), workspacelockname(dir + L"\\.\\"));
    CreateDirectoryW((dir + L"\\other").c_str(), nullptr);
    EXPECT_NE(workspacelockname(dir), workspacelockname(dir + L"\\other"));
}

// A name another process took with a DACL that lets nobody in: no lock, and
// the installer stops instead of going on without one.
TEST(Workspace, LockTakenByAnotherWithNoAccessIsRefused)
{
    std::wstring dir = harness::testscratchdir();
    HANDLE squatter = harness::mutexnobodyopens(workspacelockname(dir));
    ASSERT_NE(squatter, nullptr);
    // Opening the existing name is checked against its DACL, also here.
    installrun run;
    run.workspacedirw = dir + L"\\";
    EXPECT_EQ(lockworkspace(run), WORKSPACE_LOCKED);
    CloseHandle(squatter);
}

TEST(Workspace, LockNameFollowsThePathNotItsCase)
{
    std::wstring a = workspacelockname(L"C:\\Users\\x\\AppData\\Local\\Temp\\setup");
    EXPECT_EQ(a.compare(0, 6, L"Local\\"), 0);
    EXPECT_EQ(a.find(L'\\', 6), std::wstring::npos) << "no further backslash in a mutex name";
    EXPECT_EQ(a, workspacelockname(L"c:\\users\\X\\appdata\\local\\temp\\SETUP"));
    EXPECT_NE(a, workspacelockname(L"C:\\Users\\y\\AppData\\Local\\Temp\\setup"));
}

} // namespace
