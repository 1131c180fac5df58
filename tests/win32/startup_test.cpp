#include "startup.h"

#include "harness.h"

#include <gtest/gtest.h>

namespace {

// What a child process started after publisharguments sees.
std::string childview(int argc, std::vector<std::string> args)
{
    SetEnvironmentVariableW(L"VQNAUTOI", nullptr);
    SetEnvironmentVariableW(L"VQNPATHI", nullptr);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    publisharguments(argc, argv.data());
    harness::runresult r = harness::run(L"\"" + harness::standinsetupexe() + L"\"");
    EXPECT_TRUE(r.started);
    return r.output;
}

struct ArgumentsRow {
    const char* name;
    std::vector<std::string> args;
    const char* autoinstall;
    const char* installpath;
};

std::ostream& operator<<(std::ostream& os, const ArgumentsRow& row) { return os << row.name; }

const ArgumentsRow argumentRows[] = {
    {"no_arguments", {"pkg.exe"}, "(unset)", "(unset)"},
    {"one_argument", {"pkg.exe", "1"}, "(unset)", "(unset)"},
    {"two_arguments", {"pkg.exe", "1", "D:\\Apps"}, "1", "D:\\Apps"},
    {"third_ignored", {"pkg.exe", "0", "C:\\x y", "extra"}, "0", "C:\\x y"},
    // Arguments arrive in the ANSI code page (1252 here): 0xE9 is e-acute.
    {"ansi_converted", {"pkg.exe", "caf\xe9", "p"}, "caf\xc3\xa9", "p"},
};

class PublishArguments : public testing::TestWithParam<ArgumentsRow> {};

TEST_P(PublishArguments, ChildSeesTheVariables)
{
    const ArgumentsRow& row = GetParam();
    std::string view = childview(int(row.args.size()), row.args);
    EXPECT_NE(view.find(std::string("VQNAUTOI=") + row.autoinstall + "\n"), std::string::npos) << view;
    EXPECT_NE(view.find(std::string("VQNPATHI=") + row.installpath + "\n"), std::string::npos) << view;
}

INSTANTIATE_TEST_SUITE_P(Startup, PublishArguments, testing::ValuesIn(argumentRows),
                         [](const testing::TestParamInfo<ArgumentsRow>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// Where the newer DLL search is missing, the DLLs the window code loads by
// name later are already loaded from the system directory, so a copy beside
// the package is never the one found.
TEST(Startup, PreloadedDllsComeFromTheSystemDirectory)
{
    // Nothing in this process loads desktop composition (Vista and later,
    // and Wine): only the preload can.
    ASSERT_EQ(GetModuleHandleW(L"dwmapi.dll"), nullptr);
    preloadsystemdlls();
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(n, 0u);
    for (const wchar_t* name : {L"uxtheme.dll", L"dwmapi.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        ASSERT_NE(module, nullptr) << harness::narrow(name) << " is in this system directory";
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        ASSERT_GT(length, n);
        EXPECT_EQ(_wcsnicmp(path, system, n), 0) << harness::narrow(path);
    }
}

} // namespace
