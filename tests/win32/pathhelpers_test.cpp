#include "pathhelpers.h"

#include "harness.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdlib>

namespace {

TEST(PathHelpers, EmptyStrings)
{
    EXPECT_EQ(ansitowide(""), L"");
    EXPECT_EQ(widetoansi(L""), "");
    wchar_t* buffer = ansitowidebuf("");
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(_msize(buffer), 3u);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(reinterpret_cast<unsigned char*>(buffer)[2], 0);
    free(buffer);
}

TEST(PathHelpers, ConvertsThroughTheAnsiCodePage)
{
    wchar_t* buffer = ansitowidebuf("C:\\caf\xe9");
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(_msize(buffer), 2 * 8 + 1u);
    EXPECT_STREQ(buffer, L"C:\\caf\u00e9");
    free(buffer);
    EXPECT_EQ(ansitowide("C:\\caf\xe9"), L"C:\\caf\u00e9");
    EXPECT_EQ(widetoansi(L"C:\\caf\u00e9"), "C:\\caf\xe9");
    // A character the ANSI code page lacks becomes its default character.
    EXPECT_EQ(widetoansi(L"a\u4e2db"), "a?b");
}

class TempDirectory : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t old[4096];
        DWORD n = GetEnvironmentVariableW(L"TMP", old, 4096);
        had = n > 0 && n < 4096;
        if (had) saved = old;
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", had ? saved.c_str() : nullptr); }
    bool had = false;
    std::wstring saved;
};

TEST_F(TempDirectory, FollowsTmpAndEndsWithBackslash)
{
    std::wstring dir = harness::scratchdir(L"tempdir");
    SetEnvironmentVariableW(L"TMP", dir.c_str());
    EXPECT_EQ(workspacedirw(), dir + L"\\");
    EXPECT_EQ(workspacedir(), harness::narrow(dir) + "\\");
}

TEST_F(TempDirectory, NameOutsideTheAnsiCodePage)
{
    std::wstring dir = harness::scratchdir(L"\u4e2d\u6587");
    SetEnvironmentVariableW(L"TMP", dir.c_str());
    std::wstring wide = workspacedirw();
    EXPECT_EQ(wide, dir + L"\\");
    // The narrow form is the short name: plain ASCII, the same directory.
    std::string narrow = workspacedir();
    ASSERT_FALSE(narrow.empty());
    EXPECT_EQ(narrow.find('?'), std::string::npos) << narrow;
    EXPECT_EQ(narrow.back(), '\\');
    std::wstring marker = dir + L"\\marker.txt";
    ASSERT_TRUE(testfiles::writefile(marker, "same directory"));
    EXPECT_EQ(testfiles::readfile(narrow + "marker.txt"), "same directory") << narrow;
}

} // namespace
