// The installer window's show decision and the copy of the screen taken for
// the splash: a shown window gets one, a hidden one (two arguments, or
// VQNAUTOI beginning with 1) costs nothing.
#include "installer.h"
#include "splash.h"
#include "splashimages.h"
#include "splashpictures.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct showrow {
    const char* name;
    int argc;
    const wchar_t* autoinstall; // VQNAUTOI, or null for unset
    bool shown;
};

constexpr showrow showrows[] = {
    {"no arguments", 1, nullptr, true},
    {"one argument", 2, nullptr, true},
    {"two arguments", 3, nullptr, false},
    {"three arguments", 4, nullptr, false},
    {"VQNAUTOI 1", 1, L"1", false},
    {"VQNAUTOI 10", 1, L"10", false},
    {"VQNAUTOI 0", 1, L"0", true},
    {"VQNAUTOI empty", 1, L"", true},
    {"VQNAUTOI 0 and two arguments", 3, L"0", false},
};
std::ostream& operator<<(std::ostream& os, const showrow& row) { return os << row.name; }

HWND created = nullptr;
int paints = 0;

// Counts paints but leaves the copy alone, so the test sees whether one was taken.
LRESULT CALLBACK watchproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CREATE) created = window;
    if (message == WM_PAINT) ++paints;
    return DefWindowProcW(window, message, wparam, lparam);
}

class InstallWindowShow : public ::testing::TestWithParam<showrow> {
protected:
    void SetUp() override
    {
        // Something to fade, as at start-up.
        IStream* stream = streamonbytes(splashbackgroundpng, sizeof splashbackgroundpng);
        splashbackground.reset(stream ? gdipnew<Gdiplus::Image>(stream, FALSE) : nullptr);
        splashpainted = false;
        releasesplashbackdrop();
        created = nullptr;
        paints = 0;
        SetEnvironmentVariableW(L"VQNAUTOI", GetParam().autoinstall);
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"VQNAUTOI", nullptr);
        if (created) DestroyWindow(created);
        UnregisterClassW(classname, GetModuleHandleW(nullptr));
        releasesplashbackdrop();
    }
    const wchar_t* const classname = L"InstallWindowShowTest";
};

} // namespace

TEST_P(InstallWindowShow, OnlyAShownWindowCopiesTheScreenBeneath)
{
    ASSERT_NE(splashbackground.get(), nullptr);
    std::vector<std::string> args(size_t(GetParam().argc), "x");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    const installrun run = makeinstallrun(GetParam().argc, argv.data(), filehandle());
    installwindow window(run);
    window.getscreensize();
    ASSERT_TRUE(window.createwindow(classname, watchproc, CS_HREDRAW | CS_VREDRAW, NULL_BRUSH, 0x86000000));
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(IsWindowVisible(created) != FALSE, GetParam().shown);
    EXPECT_EQ(paints, GetParam().shown ? 1 : 0);
    EXPECT_EQ(splashbackdropheld(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, InstallWindowShow, ::testing::ValuesIn(showrows));
