#include "packagerules.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// What each tool that walks a tree does with one step of the walk.
struct steprow {
    const char* label;
    walkstep::kindtype kind;
    uint64_t size;
    int rule;
    bool builder; // the builder's tree check refuses it
    bool packer;
};

std::ostream& operator<<(std::ostream& os, const steprow& r) { return os << r.label; }

const steprow STEP_ROWS[] = {
    {"file_below_the_limit", walkstep::FILE_ENTRY, PACKAGE_SIZE_LIMIT - 1, RULE_NONE, false, false},
    {"file_at_the_limit", walkstep::FILE_ENTRY, PACKAGE_SIZE_LIMIT, RULE_FILE_SIZE, true, true},
    {"file_past_4_gib", walkstep::FILE_ENTRY, 5ull << 30, RULE_FILE_SIZE, true, true},
    {"directory_end", walkstep::DIRECTORY_END, 0, RULE_NONE, false, false},
    {"loop", walkstep::LOOP, 0, RULE_LOOP, true, true},
    {"case_twin", walkstep::CASE_TWIN, 0, RULE_CASE_TWIN, true, true},
    // The builder's archive writer reports it, and the build fails there.
    {"unlistable", walkstep::UNLISTABLE, 0, RULE_UNREADABLE, false, true},
    {"not_a_file", walkstep::NOT_FILE, 0, RULE_NOT_FILE, false, true},
    {"windows_name", walkstep::WINDOWS_NAME, 0, RULE_WINDOWS_NAME, false, true},
    {"not_utf8", walkstep::NOT_UTF8, 0, RULE_NOT_UTF8, false, true},
    {"code_page", walkstep::CODE_PAGE, 0, RULE_CODE_PAGE, false, true},
};

class WalkStepTest : public ::testing::TestWithParam<steprow> {};

TEST_P(WalkStepTest, EachToolRefusesWhatItsColumnSays)
{
    const steprow& row = GetParam();
    walkstep step{row.kind, "setup\\x", row.size, "setup\\y"};
    EXPECT_EQ(brokenrule(step), row.rule);
    EXPECT_EQ(refuses(TOOL_BUILDER, brokenrule(step)), row.builder);
    EXPECT_EQ(refuses(TOOL_PACKER, brokenrule(step)), row.packer);
    // What a tool refuses it says something about; what it takes it says nothing about.
    EXPECT_EQ(refusalwhy(TOOL_BUILDER, row.rule, "d").empty(), !row.builder);
    EXPECT_EQ(refusalwhy(TOOL_PACKER, row.rule, "d").empty(), !row.packer);
}

INSTANTIATE_TEST_SUITE_P(Steps, WalkStepTest, ::testing::ValuesIn(STEP_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(PackageRules, TheFirstStepAToolRefusesIsTheOneReported)
{
    const std::vector<walkstep> steps = {
        {walkstep::FILE_ENTRY, "setup\\a.txt", 10, ""},
        {walkstep::UNLISTABLE, "setup\\locked", 0, "Permission denied"},
        {walkstep::CASE_TWIN, "setup\\A.TXT", 0, "setup\\a.txt"},
        {walkstep::LOOP, "setup\\d\\up", 0, "setup"},
    };
    ASSERT_NE(firstrefused(steps, TOOL_BUILDER), nullptr);
    EXPECT_EQ(firstrefused(steps, TOOL_BUILDER), &steps[2]);
    EXPECT_EQ(firstrefused(steps, TOOL_PACKER), &steps[1]);
    EXPECT_EQ(firstrefused(std::vector<walkstep>(steps.begin(), steps.begin() + 1), TOOL_BUILDER), nullptr);
}

struct textrow {
    const char* label;
    int tool;
    int rule;
    const char* detail;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const textrow& r) { return os << r.label; }

const textrow TEXT_ROWS[] = {
    {"builder_loop", TOOL_BUILDER, RULE_LOOP, "setup", "leads back to setup: a tree with a loop cannot be packed"},
    {"builder_case_twin", TOOL_BUILDER, RULE_CASE_TWIN, "app\\README.TXT",
     "differs only in case from app\\README.TXT: a package cannot hold both"},
    {"packer_case_twin", TOOL_PACKER, RULE_CASE_TWIN, "setup/A.txt",
     "differs only in case from setup/A.txt: Windows holds one file for both"},
    {"packer_unreadable_says_the_system_reason", TOOL_PACKER, RULE_UNREADABLE, "No such file or directory",
     "No such file or directory"},
    {"packer_code_page", TOOL_PACKER, RULE_CODE_PAGE, "1252", "code page 1252 cannot hold this name"},
    {"builder_package_size", TOOL_BUILDER, RULE_PACKAGE_SIZE, "", "would reach 2 GiB: not written"},
    {"inspector_setup_program", TOOL_INSPECTOR, RULE_NO_SETUP_PROGRAM, PACKAGE_SETUP_PROGRAM,
     "setup\\rEdizo.exe missing: the installer has nothing to start"},
    {"inspector_code_page", TOOL_INSPECTOR, RULE_CODE_PAGE, "936",
     "not a name in code page 936: not written as listed"},
    // The inspector shows the other entry's name after its text.
    {"inspector_case_twin", TOOL_INSPECTOR, RULE_CASE_TWIN, "", "differs only in case from "},
    {"inspector_takes_large_files", TOOL_INSPECTOR, RULE_FILE_SIZE, "", ""},
    {"builder_takes_a_missing_setup_program", TOOL_BUILDER, RULE_NO_SETUP_PROGRAM, "", ""},
    {"no_rule", TOOL_PACKER, RULE_NONE, "", ""},
};

class RefusalTextTest : public ::testing::TestWithParam<textrow> {};

TEST_P(RefusalTextTest, SaysWhyWithItsDetail)
{
    const textrow& row = GetParam();
    EXPECT_EQ(refusalwhy(row.tool, row.rule, row.detail), row.why);
}

INSTANTIATE_TEST_SUITE_P(Texts, RefusalTextTest, ::testing::ValuesIn(TEXT_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

struct programrow {
    const char* label;
    const char* name;
    bool program;
};

std::ostream& operator<<(std::ostream& os, const programrow& r) { return os << r.label; }

const programrow PROGRAM_ROWS[] = {
    {"as_written", "setup\\rEdizo.exe", true},
    {"other_case", "SETUP\\REDIZO.EXE", true},
    {"slash", "setup/redizo.exe", true},
    {"shorter", "setup\\rEdizo.ex", false},
    {"longer", "setup\\rEdizo.exe.txt", false},
    {"other_tree", "app\\rEdizo.exe", false},
    {"below_a_directory", "setup\\bin\\rEdizo.exe", false},
    {"empty", "", false},
};

class SetupProgramTest : public ::testing::TestWithParam<programrow> {};

TEST_P(SetupProgramTest, NamesTheProgramTheInstallerStarts)
{
    const programrow& row = GetParam();
    EXPECT_EQ(issetupprogram(row.name), row.program);
}

INSTANTIATE_TEST_SUITE_P(Names, SetupProgramTest, ::testing::ValuesIn(PROGRAM_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
