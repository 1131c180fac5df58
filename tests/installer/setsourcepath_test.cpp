// Stamping the workspace's setup\config.xml with the package path: the exact
// bytes left behind, per configuration.
#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>

#include "harness.h"
#include "setsourcepath.h"
#include "pathhelpers.h"

namespace {

// What the workspace holds before stamping.
enum class workspace { configFile, setupDirOnly, nothing };

struct stamprow {
    const char* label;
    workspace before;
    const char* config; // with before == configFile
    size_t configSize;
    const char* package; // ANSI code page (1252 in the tests)
    bool configAfter;    // whether setup\config.xml exists afterwards
    const char* expected;
    size_t expectedSize;
    // What the stamping reports: false when the configuration that exists
    // could not be written stamped.
    bool stamped = true;
};

std::ostream& operator<<(std::ostream& os, const stamprow& row) { return os << row.label; }

#define BYTES(literal) literal, sizeof(literal) - 1
#define NO_BYTES nullptr, 0

// Pushes a declaration beyond the part of a file that reading examines.
#define PAD10 "          "
#define PAD100 PAD10 PAD10 PAD10 PAD10 PAD10 PAD10 PAD10 PAD10 PAD10 PAD10
#define PAD1100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100 PAD100
#define SAVE_FAILS "<html>" PAD1100 "<meta http-equiv=\"Content-Type\" content=\"charset=utf-16be\"></html>"

const char PACKAGE[] = "C:\\Users\\me\\Downloads\\install_test.exe";

const stamprow stamprows[] = {
    {"one_source_only_value_changes", workspace::configFile,
     BYTES("<?xml version=\"1.0\"?>\n<config>\n  <source path=\"D:\\old\\pkg.exe\" kind=\"web\"/>\n"
           "  <other>t</other>\n</config>\n"),
     PACKAGE, true,
     BYTES("<?xml version=\"1.0\"?>\n<config>\n  <source path=\"C:\\Users\\me\\Downloads\\install_test.exe\" "
           "kind=\"web\"/>\n  <other>t</other>\n</config>\n")},
    {"three_sources_all_stamped", workspace::configFile,
     BYTES("<config>\r\n<source path=\"a\"/>\r\n<source/>\r\n<source id=\"3\" />\r\n</config>"), "C:\\p.exe", true,
     BYTES("<config>\r\n<source path=\"C:\\p.exe\"/>\r\n<source path=\"C:\\p.exe\"/>\r\n"
           "<source id=\"3\" path=\"C:\\p.exe\" />\r\n</config>")},
    {"no_source_new_first_child", workspace::configFile, BYTES("<config>\n  <other/>\n</config>\n"), "C:\\p.exe", true,
     BYTES("<config>\n  <source path=\"C:\\p.exe\"/>\r\n<other/>\n</config>\n")},
    {"empty_root_opened_for_new_child", workspace::configFile, BYTES("<config/>"), "C:\\p.exe", true,
     BYTES("<config>\r\n<source path=\"C:\\p.exe\"/>\r\n</config>")},
    {"nested_source_untouched", workspace::configFile, BYTES("<config><group><source path=\"x\"/></group></config>"),
     "C:\\p.exe", true, BYTES("<config><source path=\"C:\\p.exe\"/>\r\n<group><source path=\"x\"/></group></config>")},
    {"single_quoted_value_becomes_double_quoted", workspace::configFile,
     BYTES("<config><source path='old' id='1'/></config>"), "C:\\p.exe", true,
     BYTES("<config><source path=\"C:\\p.exe\" id='1'/></config>")},
    {"ampersand_and_apostrophe_escaped", workspace::configFile, BYTES("<config><source path=\"\"/></config>"),
     "C:\\Tom & Jerry's (x86)\\setup;1.exe", true,
     BYTES("<config><source path=\"C:\\Tom &amp; Jerry&apos;s (x86)\\setup;1.exe\"/></config>")},
    {"ansi_path_written_as_utf8", workspace::configFile, BYTES("<config><source/></config>"), "C:\\caf\xE9\\p.exe",
     true, BYTES("<config><source path=\"C:\\caf\xC3\xA9\\p.exe\"/></config>")},
    {"declared_encoding_kept", workspace::configFile,
     BYTES("<?xml version=\"1.0\" encoding=\"windows-1252\"?><config><source/></config>"), "C:\\caf\xE9\\p.exe", true,
     BYTES("<?xml version=\"1.0\" encoding=\"windows-1252\"?><config><source path=\"C:\\caf\xE9\\p.exe\"/></config>")},
    {"utf16le_configuration", workspace::configFile, BYTES("\xFF\xFE<\0c\0>\0<\0s\0o\0u\0r\0c\0e\0/\0>\0<\0/\0c\0>\0"),
     "C:\\p", true,
     BYTES("\xFF\xFE<\0c\0>\0<\0s\0o\0u\0r\0c\0e\0 \0p\0a\0t\0h\0=\0\"\0C\0:\0\\\0p\0\"\0/\0>\0<\0/\0c\0>\0")},
    {"utf16be_configuration", workspace::configFile, BYTES("\xFE\xFF\0<\0c\0>\0<\0s\0o\0u\0r\0c\0e\0/\0>\0<\0/\0c\0>"),
     "C:\\p", true,
     BYTES("\xFE\xFF\0<\0c\0>\0<\0s\0o\0u\0r\0c\0e\0 \0p\0a\0t\0h\0=\0\"\0C\0:\0\\\0p\0\"\0/\0>\0<\0/\0c\0>")},
    {"no_config_creates_empty_file", workspace::setupDirOnly, NO_BYTES, PACKAGE, true, BYTES("")},
    {"no_setup_directory_creates_nothing", workspace::nothing, NO_BYTES, PACKAGE, false, NO_BYTES},
    // Read as UTF-8, but the save finds a declaration whose encoding the
    // system cannot produce: the failed save must not empty the file.
    {"failed_save_keeps_configuration", workspace::configFile, BYTES(SAVE_FAILS), PACKAGE, true, BYTES(SAVE_FAILS),
     false},
    // A configuration that cannot be read is kept rather than emptied.
    {"unreadable_configuration_kept", workspace::configFile,
     BYTES("<?xml version=\"1.0\" encoding=\"UTF-32\"?><config><source/></config>"), PACKAGE, true,
     BYTES("<?xml version=\"1.0\" encoding=\"UTF-32\"?><config><source/></config>")},
};

#undef BYTES
#undef NO_BYTES
#undef SAVE_FAILS
#undef PAD1100
#undef PAD100
#undef PAD10

class SetSourcePathTest : public testing::TestWithParam<stamprow> {
protected:
    void SetUp() override
    {
        wchar_t saved[MAX_PATH + 1] = {};
        hadTmp = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1) > 0;
        savedTmp = saved;
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp.c_str() : nullptr); }
    bool hadTmp = false;
    std::wstring savedTmp;
};

TEST_P(SetSourcePathTest, LeavesExactBytes)
{
    const stamprow& row = GetParam();
    const std::wstring tempdir = harness::scratchdir(L"stamp_" + harness::widen(row.label));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", tempdir.c_str()));
    const std::wstring setup = tempdir + L"\\setup";
    const std::wstring config = setup + L"\\config.xml";
    if (row.before != workspace::nothing) {
        ASSERT_TRUE(CreateDirectoryW(setup.c_str(), nullptr));
    }
    if (row.before == workspace::configFile) {
        ASSERT_TRUE(testfiles::writefile(config, std::string(row.config, row.configSize)));
    }
    installrun run;
    run.packagepath = row.package ? row.package : "";
    run.workspacedirw = workspacedirw();

    EXPECT_EQ(setsourcepath(run), row.stamped);

    ASSERT_EQ(harness::fileexists(config), row.configAfter);
    if (row.configAfter) {
        EXPECT_EQ(testfiles::readfile(config), std::string(row.expected, row.expectedSize));
    }
    EXPECT_FALSE(harness::fileexists(config + L".new"));
    EXPECT_EQ(harness::fileexists(setup), row.before != workspace::nothing);
}

INSTANTIATE_TEST_SUITE_P(Configurations, SetSourcePathTest, testing::ValuesIn(stamprows),
                         [](const testing::TestParamInfo<stamprow>& info) { return std::string(info.param.label); });

// A stamped configuration that cannot be written (here: its temporary
// file's name is taken by a directory; on Windows also a file held open by
// another process) is a failure the installer reports, never a setup program
// started with the configuration unstamped.
TEST_F(SetSourcePathTest, AFailedWriteIsReported)
{
    const std::wstring tempdir = harness::scratchdir(L"stamp_write_fails");
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", tempdir.c_str()));
    const std::wstring config = tempdir + L"\\setup\\config.xml";
    ASSERT_TRUE(CreateDirectoryW((tempdir + L"\\setup").c_str(), nullptr));
    const std::string extracted = "<setup><source path=\"old\"/></setup>";
    ASSERT_TRUE(testfiles::writefile(config, extracted));
    ASSERT_TRUE(CreateDirectoryW((config + L".new").c_str(), nullptr));
    installrun run;
    run.packagepath = "C:\\pkg.exe";
    run.workspacedirw = workspacedirw();
    EXPECT_FALSE(setsourcepath(run));
    EXPECT_EQ(testfiles::readfile(config), extracted);
    RemoveDirectoryW((config + L".new").c_str());
}

} // namespace
