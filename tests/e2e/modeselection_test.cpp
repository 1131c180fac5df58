// The program chooses its role by its own file size alone.
#include "harness.h"

#include <gtest/gtest.h>

namespace {

struct ModeRow {
    const char* name;
    long delta; // bytes added to (or cut from) the bare program
    const char* expected;
    DWORD exitcode;
};

std::ostream& operator<<(std::ostream& os, const ModeRow& row) { return os << row.name; }

// The builder finds no setup tree, hence no icon file; the installer finds
// no package in a plain copy of the program, warns, and has no setup
// program to start.
const ModeRow modeRows[] = {
    {"bare_program_builds", 0, "Open IconFile Failed!", 0},
    {"one_byte_longer_installs", 1, "delete path is <", DWORD(-1)},
    {"one_byte_shorter_installs", -1, "delete path is <", DWORD(-1)},
};

class ModeSelection : public testing::TestWithParam<ModeRow> {};

TEST_P(ModeSelection, ChosenBySize)
{
    const ModeRow& row = GetParam();
    std::wstring dir = harness::scratchdir(harness::widen(row.name));
    std::wstring exe = dir + L"\\program.exe";
    ASSERT_TRUE(harness::copywithsize(harness::bootstrapexe(), exe, row.delta));
    harness::runoptions options;
    options.workdir = dir;
    options.env = {{L"TMP", dir}, {L"TEMP", dir}};
    options.watchwarnings = true;
    harness::runresult r = harness::run(L"\"" + exe + L"\"", options);
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timedout);
    EXPECT_EQ(r.exitcode, row.exitcode) << r.output;
    EXPECT_NE(r.output.find(row.expected), std::string::npos) << r.output;
    bool builder = row.delta == 0;
    EXPECT_EQ(harness::fileexists(dir + L"\\install_test.exe"), builder);
    EXPECT_EQ(r.warnings.size(), builder ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Main, ModeSelection, testing::ValuesIn(modeRows),
                         [](const testing::TestParamInfo<ModeRow>& info) { return std::string(info.param.name); });

TEST(Main, OwnFileIsFoundWithoutItsExtension)
{
    // Started by a name without its extension (typed in a console): argv[0]
    // names no file, the system still names the program's own, whose size
    // chooses the mode: the bare program builds.
    std::wstring dir = harness::scratchdir(L"noopen");
    testfiles::writefile(dir + L"\\setup.marker", "x");
    harness::runoptions options;
    options.workdir = dir;
    options.application = harness::bootstrapexe();
    options.env = {{L"TMP", dir}, {L"TEMP", dir}};
    harness::runresult r = harness::run(L"bootstrap", options);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.output.find("Open file failed"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("filelist::GetAllFileInfoAndZip"), std::string::npos) << r.output;
}

} // namespace
