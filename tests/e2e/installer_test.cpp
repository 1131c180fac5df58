// The installer end to end: packages built by the real bare program, run
// under Wine with their own TMP, the stand-in setup program recording what
// it sees.
#include "harness.h"
#include "workspace.h"
#include "peresources.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using harness::fileexists;
using testfiles::readfile;
using testfiles::writefile;

// One test's package: dir\src holds the trees and the built package, dir\tmp
// is the TMP of the installer run, so its workspace is dir\tmp\setup.
struct package {
    std::wstring dir;
    std::wstring src;
    std::wstring exe;
    std::wstring tmp;
    std::wstring workspace() const { return tmp + L"\\setup"; }
    std::wstring record() const { return dir + L"\\record.txt"; }
};

void makedirs(const std::wstring& path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

void writetree(const std::wstring& root, const std::vector<std::pair<std::wstring, std::string>>& files)
{
    for (const auto& f : files) {
        std::wstring path = root + L"\\" + f.first;
        makedirs(path.substr(0, path.find_last_of(L'\\')));
        ASSERT_TRUE(writefile(path, f.second)) << harness::narrow(path);
    }
}

std::wstring iconfixture(const std::wstring& name) { return harness::testsourcedir() + L"\\fixtures\\icons\\" + name; }

// The uninstaller carries the one image of uninstallicon.ico in every slot
// of the program's icon group (1 to 10: the image and its filler copies).
void expectuninstallicon(const std::wstring& exe)
{
    std::vector<std::string> images = peresources::iconimages(readfile(iconfixture(L"icon_1_image.ico")));
    ASSERT_EQ(images.size(), 1u);
    for (WORD id = 1; id <= 10; ++id) {
        std::string image;
        ASSERT_TRUE(peresources::read(exe, RT_ICON, id, 1033, image)) << "icon " << id;
        EXPECT_EQ(image, images[0]) << "icon " << id;
    }
}

const std::vector<std::pair<std::wstring, std::string>>& sampletree()
{
    static const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"setup\\config.xml", "<?xml version=\"1.0\"?>\r\n<setup>\r\n  <source path=\"old\"/>\r\n</setup>\r\n"},
        {L"setup\\data\\big.bin", std::string(300000, 'q') + std::string(5000, '\x01')},
        {L"setup\\data\\empty.txt", ""},
        {L"setup\\a\\b\\c\\deep.txt", "deep"},
        {L"app\\app.txt", "application"},
    };
    return files;
}

// Builds a package from the sample tree (plus extra files) with the
// stand-in setup program as setup\rEdizo.exe.
package makepackage(const std::wstring& name, const std::vector<std::pair<std::wstring, std::string>>& extra = {},
                    bool withsetup = true)
{
    package p;
    p.dir = harness::scratchdir(name);
    p.src = p.dir + L"\\src";
    p.tmp = p.dir + L"\\tmp";
    p.exe = p.src + L"\\install_test.exe";
    makedirs(p.src);
    makedirs(p.tmp);
    writetree(p.src, sampletree());
    writetree(p.src, extra);
    if (withsetup) writetree(p.src, {{L"setup\\rEdizo.exe", readfile(harness::standinsetupexe())}});
    writetree(p.src, {{L"setup\\LoaderIcon.ico", readfile(iconfixture(L"icon_6_images.ico"))},
                      {L"setup\\uninstallicon.ico", readfile(iconfixture(L"icon_1_image.ico"))}});
    std::wstring bare = p.src + L"\\bootstrap.exe";
    CopyFileW(harness::bootstrapexe().c_str(), bare.c_str(), FALSE);
    harness::runoptions options;
    options.workdir = p.src;
    options.env = {{L"TMP", p.dir + L"\\buildtmp"}, {L"TEMP", p.dir + L"\\buildtmp"}};
    makedirs(p.dir + L"\\buildtmp");
    harness::runresult r = harness::run(L"\"" + bare + L"\"", options);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(fileexists(p.exe));
    return p;
}

harness::runresult install(const package& p, const std::wstring& arguments = L"",
                           std::vector<std::pair<std::wstring, std::wstring>> env = {},
                           const std::wstring& commandline = L"", const std::wstring& workdir = L"")
{
    harness::runoptions options;
    options.workdir = workdir.empty() ? p.dir : workdir;
    options.env = {
        {L"TMP", p.tmp}, {L"TEMP", p.tmp}, {L"STANDIN_RECORD", p.record()}, {L"VQNAUTOI", L""}, {L"VQNPATHI", L""}};
    options.env.insert(options.env.end(), env.begin(), env.end());
    options.watchwarnings = true;
    options.application = p.exe;
    std::wstring cmd = commandline.empty() ? L"\"" + p.exe + L"\"" : commandline;
    if (!arguments.empty()) cmd += L" " + arguments;
    harness::runresult r = harness::run(cmd, options);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedout) << r.output;
    return r;
}

std::vector<std::string> texts(const harness::runresult& r)
{
    std::vector<std::string> out;
    for (const auto& w : r.warnings) out.push_back(w.text);
    return out;
}

// Flips one byte of the package file at offset from the start (or, when
// negative, from the end).
void flipbyte(const std::wstring& path, long offset)
{
    std::string bytes = readfile(path);
    size_t at = offset >= 0 ? size_t(offset) : bytes.size() - size_t(-offset);
    bytes[at] = char(bytes[at] ^ 0x5a);
    ASSERT_TRUE(writefile(path, bytes));
}

uint32_t trailerfield(const std::string& package, size_t at)
{
    uint32_t v;
    memcpy(&v, package.data() + package.size() - 81 + at, 4);
    return v;
}

TEST(Installer, ExtractsTheSetupTreeAndRunsTheSetupProgram)
{
    package p = makepackage(L"extract");
    writetree(p.workspace(), {{L"stale.txt", "from an earlier run"}});
    harness::runresult r = install(p);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    for (const auto& f : sampletree()) {
        if (f.first.compare(0, 6, L"setup\\") != 0) continue;
        if (f.first == L"setup\\config.xml") continue; // stamped
        EXPECT_EQ(readfile(p.tmp + L"\\" + f.first), f.second) << harness::narrow(f.first);
    }
    EXPECT_FALSE(fileexists(p.tmp + L"\\app")) << "archive B is never extracted";
    EXPECT_FALSE(fileexists(p.workspace() + L"\\stale.txt")) << "the previous workspace is deleted";
    std::string record = readfile(p.record());
    EXPECT_NE(record.find("file=rEdizo.exe"), std::string::npos) << record;
    EXPECT_NE(record.find("file=uninstall.exe"), std::string::npos) << record;
    EXPECT_NE(record.find("file=channel.cfg"), std::string::npos) << record;
    // Its own quoted path and no arguments; elevated (as every run under
    // Wine is), it starts in its own directory, which only administrators change.
    std::string setupexe = harness::narrow(p.workspace()) + "\\rEdizo.exe";
    EXPECT_NE(record.find("cmdline=\"" + setupexe + "\"\n"), std::string::npos) << record;
    EXPECT_NE(record.find("cwd=" + harness::narrow(p.workspace()) + "\n"), std::string::npos) << record;
    EXPECT_NE(r.output.find("delete path is <"), std::string::npos);
    expectuninstallicon(p.workspace() + L"\\uninstall.exe");
}

struct ChannelRow {
    const char* name;
    int form; // 0: full path with backslashes, 1: forward slash before the folder, 2: bare name
    bool written;
};

std::ostream& operator<<(std::ostream& os, const ChannelRow& row) { return os << row.name; }

const ChannelRow channelRows[] = {
    {"backslashes", 0, true},
    {"forward_slash_wins", 1, true},
    {"bare_name_writes_none", 2, false},
};

class Channel : public testing::TestWithParam<ChannelRow> {};

TEST_P(Channel, HoldsTheFileNameAfterTheLastSeparator)
{
    const ChannelRow& row = GetParam();
    package p = makepackage(L"channel_" + harness::widen(row.name));
    std::wstring cmd, workdir, expected;
    if (row.form == 0) {
        cmd = L"\"" + p.exe + L"\"";
        expected = L"install_test.exe";
    } else if (row.form == 1) {
        std::wstring parent = p.dir;
        for (auto& c : parent)
            if (c == L'\\') c = L'/';
        cmd = L"\"" + parent + L"/src\\install_test.exe\"";
        expected = L"src\\install_test.exe";
    } else {
        cmd = L"install_test.exe";
        workdir = p.src;
    }
    harness::runresult r = install(p, L"", {}, cmd, workdir);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    std::wstring channel = p.workspace() + L"\\channel.cfg";
    if (row.written) {
        EXPECT_EQ(readfile(channel), harness::narrow(expected));
    } else {
        EXPECT_FALSE(fileexists(channel));
    }
}

INSTANTIATE_TEST_SUITE_P(Installer, Channel, testing::ValuesIn(channelRows),
                         [](const testing::TestParamInfo<ChannelRow>& info) { return std::string(info.param.name); });

struct VisibilityRow {
    const char* name;
    const wchar_t* arguments;
    const wchar_t* autoinstall; // parent's VQNAUTOI, empty: unset
    bool visible;
    const char* childautoinstall;
    const char* childinstallpath;
    int padding; // 'x' characters appended to autoinstall and childautoinstall
};

std::ostream& operator<<(std::ostream& os, const VisibilityRow& row) { return os << row.name; }

const VisibilityRow visibilityRows[] = {
    {"no_arguments_shown", L"", L"", true, "(unset)", "(unset)", 0},
    {"one_argument_shown", L"0", L"", true, "(unset)", "(unset)", 0},
    {"two_arguments_hidden", L"0 D:\\Target", L"", false, "0", "D:\\Target", 0},
    {"autoinstall_1_hidden", L"", L"1", false, "1", "(unset)", 0},
    {"autoinstall_0_shown", L"", L"0", true, "0", "(unset)", 0},
    // Values longer than a small buffer are read whole: the first character decides.
    {"autoinstall_long_1_hidden", L"", L"1-silent-install", false, "1-silent-install", "(unset)", 0},
    {"autoinstall_long_0_shown", L"", L"0000000000001", true, "0000000000001", "(unset)", 0},
    {"autoinstall_300_characters_hidden", L"", L"1", false, "1", "(unset)", 299},
};

class Visibility : public testing::TestWithParam<VisibilityRow> {};

// An altered archive B makes the worker show its box while the window is
// up: the watcher samples the window's visibility at that moment.
TEST_P(Visibility, WindowAndVariables)
{
    const VisibilityRow& row = GetParam();
    package p = makepackage(L"visibility_" + harness::widen(row.name));
    flipbyte(p.exe, -81 - 5); // inside archive B's end record comment-free area
    std::vector<std::pair<std::wstring, std::wstring>> env;
    if (*row.autoinstall) env.push_back({L"VQNAUTOI", row.autoinstall + std::wstring(size_t(row.padding), L'x')});
    harness::runresult r = install(p, row.arguments, env);
    EXPECT_EQ(r.exitcode, 0u);
    ASSERT_EQ(texts(r), std::vector<std::string>{"MD5 is uncorrect!"});
    EXPECT_EQ(r.warnings[0].installervisible, row.visible);
    std::string record = readfile(p.record());
    std::string autoinstall = row.childautoinstall + std::string(size_t(row.padding), 'x');
    EXPECT_NE(record.find("VQNAUTOI=" + autoinstall + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find(std::string("VQNPATHI=") + row.childinstallpath + "\n"), std::string::npos) << record;
}

INSTANTIATE_TEST_SUITE_P(Installer, Visibility, testing::ValuesIn(visibilityRows),
                         [](const testing::TestParamInfo<VisibilityRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(Installer, BothArchivesAlteredStillOneBox)
{
    package p = makepackage(L"both_altered");
    std::string bytes = readfile(p.exe);
    uint32_t offsetA = trailerfield(bytes, 0);
    // Archive A: the first entry's modification time in its local header,
    // which extraction reads past without checking, so every entry is still
    // written whole and only the digest sees the change.
    flipbyte(p.exe, long(offsetA) + 10);
    // Archive B: its end record, which the installer never reads.
    flipbyte(p.exe, -81 - 5);
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u);
    EXPECT_EQ(texts(r), std::vector<std::string>{"MD5 is uncorrect!"});
    EXPECT_EQ(readfile(p.workspace() + L"\\a\\b\\c\\deep.txt"), "deep") << "every entry was extracted";
    EXPECT_TRUE(fileexists(p.record())) << "the setup program still runs";
}

TEST(Installer, BytesAfterTheTrailerChangeNothing)
{
    package p = makepackage(L"appended");
    std::string bytes = readfile(p.exe);
    ASSERT_TRUE(writefile(p.exe, bytes + std::string(777, 'z')));
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u);
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_NE(r.output.find("find file end pos:-786."), std::string::npos) << r.output;
    EXPECT_EQ(readfile(p.workspace() + L"\\a\\b\\c\\deep.txt"), "deep");
}

TEST(Installer, NoSetupProgramEndsWithMinusOne)
{
    package p = makepackage(L"nosetup", {}, false);
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, DWORD(-1));
    EXPECT_TRUE(r.warnings.empty());
}

TEST(Installer, ExistingUninstallerIsKeptWithNewIcons)
{
    // A copy of the bare program stands in for a packed uninstaller: it
    // differs from rEdizo.exe, so a replacement would show.
    std::string packed = readfile(harness::bootstrapexe());
    package p = makepackage(L"keep_uninstaller", {{L"setup\\uninstall.exe", packed}});
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u);
    std::wstring uninstaller = p.workspace() + L"\\uninstall.exe";
    expectuninstallicon(uninstaller);
    // The packed program carries the bare program's manifest, which the
    // setup program lacks: only the packed uninstaller can have it.
    std::wstring bare = harness::bootstrapexe();
    std::vector<WORD> languages = peresources::languages(bare, RT_MANIFEST, 1);
    ASSERT_EQ(languages.size(), 1u);
    std::string packedmanifest, setupmanifest, manifest;
    ASSERT_TRUE(peresources::read(bare, RT_MANIFEST, 1, languages[0], packedmanifest));
    peresources::read(harness::standinsetupexe(), RT_MANIFEST, 1, languages[0], setupmanifest);
    ASSERT_NE(setupmanifest, packedmanifest);
    EXPECT_TRUE(peresources::read(uninstaller, RT_MANIFEST, 1, languages[0], manifest))
        << "still the packed program, not the setup program";
    EXPECT_EQ(manifest, packedmanifest);
}

} // namespace

namespace {

// Hand-made packages: the bare program, an archive A of the test's making
// with the stand-in setup program as its first entry, an empty archive B.
struct HostileRow {
    const char* name;
    const char* entry;       // the hostile entry's name
    bool damaged;            // its data altered after compression
    const char* outsidename; // where a traversal would land, relative to TMP's parent
};

std::ostream& operator<<(std::ostream& os, const HostileRow& row) { return os << row.name; }

const HostileRow hostileRows[] = {
    {"dotdot_backslash", "setup\\..\\..\\evil.txt", false, "evil.txt"},
    {"dotdot_forward_slash", "setup/../../evil.txt", false, "evil.txt"},
    {"outside_setup", "evil.txt", false, "tmp\\evil.txt"},
    {"drive_prefix", "setup\\C:\\evil.txt", false, "evil.txt"},
    {"leading_separator", "\\setup\\evil.txt", false, "evil.txt"},
    {"long_name", "", false, "evil.txt"},
    {"device_name", "setup\\NUL", false, "evil.txt"},
    {"device_name_with_extension", "setup\\COM1.txt", false, "evil.txt"},
    {"alternate_data_stream", "setup\\rEdizo.exe:evil", false, "evil.txt"},
    {"trailing_dot", "setup\\evil.", false, "evil.txt"},
    {"trailing_space", "setup\\evil ", false, "evil.txt"},
    {"damaged_data", "setup\\damaged.bin", true, "evil.txt"},
};

class HostilePackage : public testing::TestWithParam<HostileRow> {};

TEST_P(HostilePackage, OneWarningNothingOutsideTheWorkspace)
{
    const HostileRow& row = GetParam();
    std::wstring dir = harness::scratchdir(L"hostile_" + harness::widen(row.name));
    std::wstring tmp = dir + L"\\tmp";
    CreateDirectoryW(tmp.c_str(), nullptr);
    std::string name = *row.entry ? row.entry : "setup\\" + std::string(600, 'n');
    ziptest::handentry first("setup\\rEdizo.exe", readfile(harness::standinsetupexe()));
    ziptest::handentry hostile(name, ziptest::noise(20000, 7));
    if (row.damaged) {
        hostile.compressed = ziptest::rawdeflate(hostile.data);
        hostile.compressed[hostile.compressed.size() / 2] ^= 0x40;
    }
    ziptest::handentry after("setup\\after.txt", "never reached");
    std::string a = ziptest::makezip({first, hostile, after});
    std::string package = ziptest::makepackage(readfile(harness::bootstrapexe()), a, ziptest::makezip({}));
    std::wstring exe = dir + L"\\pkg.exe";
    ASSERT_TRUE(writefile(exe, package));

    harness::runoptions options;
    options.workdir = dir;
    options.env = {{L"TMP", tmp}, {L"TEMP", tmp}, {L"STANDIN_RECORD", dir + L"\\record.txt"}};
    options.watchwarnings = true;
    harness::runresult r = harness::run(L"\"" + exe + L"\" 1 x", options);
    ASSERT_FALSE(r.timedout);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_EQ(texts(r), std::vector<std::string>{"Uncompress failed!"});
    EXPECT_FALSE(fileexists(dir + L"\\" + harness::widen(row.outsidename)));
    EXPECT_FALSE(fileexists(tmp + L"\\evil.txt"));
    EXPECT_FALSE(fileexists(tmp + L"\\setup\\damaged.bin")) << "no corrupt file under the entry's name";
    EXPECT_FALSE(fileexists(tmp + L"\\setup\\after.txt")) << "extraction stops at the failed entry";
    EXPECT_TRUE(fileexists(dir + L"\\record.txt")) << "the setup program still runs";
}

INSTANTIATE_TEST_SUITE_P(Installer, HostilePackage, testing::ValuesIn(hostileRows),
                         [](const testing::TestParamInfo<HostileRow>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// The configuration as the setup program finds it after installation.
struct StampRow {
    const char* name;
    std::string config;   // empty: the package carries no config.xml
    const char* exename;  // the package's file name
    std::string expected; // with PKG standing for the package path
};

std::ostream& operator<<(std::ostream& os, const StampRow& row) { return os << row.name; }

std::string utf16le(const std::string& ascii)
{
    std::string out = "\xff\xfe";
    for (char c : ascii) out += std::string(1, c) + std::string(1, '\0');
    return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

const StampRow stampRows[] = {
    {"one_source_value_changes",
     "<?xml version=\"1.0\"?>\r\n<setup>\r\n  <source path=\"old\" id=\"1\"/>\r\n</setup>\r\n", "install_test.exe",
     "<?xml version=\"1.0\"?>\r\n<setup>\r\n  <source path=\"PKG\" id=\"1\"/>\r\n</setup>\r\n"},
    {"no_source_new_first_child", "<setup>\n  <product/>\n</setup>\n", "install_test.exe",
     "<setup>\n  <source path=\"PKG\"/>\r\n<product/>\n</setup>\n"},
    {"ampersand_apostrophe_in_package_name", "<setup><source path=\"\"/></setup>", "Tom & Jerry's.exe",
     "<setup><source path=\"PKG\"/></setup>"},
    {"utf16le_configuration", utf16le("<setup><source path=\"x\"/></setup>"), "install_test.exe",
     utf16le("<setup><source path=\"PKG\"/></setup>")},
    {"no_configuration_empty_file", "", "install_test.exe", ""},
};

class Stamping : public testing::TestWithParam<StampRow> {};

TEST_P(Stamping, ConfigurationNamesThePackage)
{
    const StampRow& row = GetParam();
    std::vector<std::pair<std::wstring, std::string>> extra;
    if (!row.config.empty()) extra.push_back({L"setup\\config.xml", row.config});
    // The row's configuration replaces the sample tree's own.
    package p = makepackage(L"stamp_" + harness::widen(row.name), extra);
    if (row.config.empty()) {
        // A package without any configuration: built again without it.
        std::wstring config = p.src + L"\\setup\\config.xml";
        DeleteFileW(config.c_str());
        DeleteFileW(p.exe.c_str());
        std::wstring bare = p.src + L"\\bootstrap.exe";
        harness::runoptions options;
        options.workdir = p.src;
        options.env = {{L"TMP", p.dir + L"\\buildtmp"}, {L"TEMP", p.dir + L"\\buildtmp"}};
        ASSERT_EQ(harness::run(L"\"" + bare + L"\"", options).exitcode, 0u);
    }
    std::wstring renamed = p.src + L"\\" + harness::widen(row.exename);
    if (renamed != p.exe) {
        ASSERT_TRUE(MoveFileW(p.exe.c_str(), renamed.c_str()));
    }
    p.exe = renamed;
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    std::string path = harness::narrow(p.exe);
    std::string escaped = replaced(replaced(path, "&", "&amp;"), "'", "&apos;");
    std::string expected = row.expected;
    if (expected.compare(0, 2, "\xff\xfe") == 0) {
        std::string wide;
        for (char c : escaped) wide += std::string(1, c) + std::string(1, '\0');
        expected = replaced(expected, utf16le("PKG").substr(2), wide);
    } else {
        expected = replaced(expected, "PKG", escaped);
    }
    EXPECT_EQ(readfile(p.workspace() + L"\\config.xml"), expected);
}

INSTANTIATE_TEST_SUITE_P(Installer, Stamping, testing::ValuesIn(stampRows),
                         [](const testing::TestParamInfo<StampRow>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// DLLs placed beside the package under the names of ones the program loads
// after start (GDI+ on first use, the theme library when the window is made)
// are never loaded; Wine is told to prefer such native DLLs, so a search that
// reached them would load them. (Wine's own start-up code loads version.dll
// before the program runs, so that name cannot be checked here.)
TEST(Installer, PlantedDllsAreNeverLoaded)
{
    package p = makepackage(L"planted_dlls");
    const wchar_t* names[] = {L"gdiplus.dll", L"uxtheme.dll"};
    std::string dll = readfile(harness::winpath(PLANTED_DLL));
    ASSERT_FALSE(dll.empty());
    for (const wchar_t* name : names) ASSERT_TRUE(writefile(p.src + L"\\" + name, dll));
    // Wine's per-program setting: native DLLs first for these names.
    HKEY key = nullptr;
    const wchar_t overrides[] = L"Software\\Wine\\AppDefaults\\install_test.exe\\DllOverrides";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, overrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t order[] = L"native,builtin";
    for (const wchar_t* name : names) {
        std::wstring base(name, wcslen(name) - 4);
        RegSetValueExW(key, base.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
    }
    RegCloseKey(key);
    // Shown, so GDI+ paints and the window's theme code runs.
    harness::runresult r = install(p);
    RegDeleteKeyW(HKEY_CURRENT_USER, overrides);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_TRUE(fileexists(p.record()));
    for (const wchar_t* name : names)
        EXPECT_FALSE(fileexists(p.src + L"\\" + name + L".loaded")) << harness::narrow(name) << " was loaded";
}

} // namespace

namespace {

// A temporary directory whose name the ANSI code page (1252 here) cannot
// hold, as for a user name in Chinese: the package installs through the
// directory's short name and the setup program runs.
TEST(Installer, TemporaryDirectoryOutsideTheAnsiCodePage)
{
    package p = makepackage(L"tmp_not_ansi");
    p.tmp = p.dir + L"\\\u7528\u6237\u4e34\u65f6";
    CreateDirectoryW(p.tmp.c_str(), nullptr);
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(readfile(p.workspace() + L"\\a\\b\\c\\deep.txt"), "deep");
    EXPECT_EQ(readfile(p.workspace() + L"\\channel.cfg"), "install_test.exe");
    std::string config = readfile(p.workspace() + L"\\config.xml");
    EXPECT_NE(config.find("path=\"" + harness::narrow(p.exe) + "\""), std::string::npos) << config;
    EXPECT_TRUE(fileexists(p.record())) << "the setup program ran";
    EXPECT_TRUE(fileexists(p.workspace() + L"\\uninstall.exe"));
}

} // namespace

namespace {

// Wine told to report Windows XP for the package: the hand-off takes the
// NT 5.x way out, exit(0) right after the setup program, and the process
// still ends by itself with exit code 0. (Both ways out end with 0, so this
// shows the version rule ends the process cleanly, not which way it took.)
TEST(Installer, WindowsXpEndsWithZeroAfterTheSetupProgram)
{
    package p = makepackage(L"windows_xp");
    HKEY key = nullptr;
    const wchar_t appdefaults[] = L"Software\\Wine\\AppDefaults\\install_test.exe";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, appdefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t version[] = L"winxp";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof version);
    RegCloseKey(key);
    harness::runresult r = install(p, L"", {{L"STANDIN_SLEEP_MS", L"300"}});
    RegDeleteKeyW(HKEY_CURRENT_USER, appdefaults);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    std::string record = readfile(p.record());
    EXPECT_NE(record.find("file=uninstall.exe"), std::string::npos) << record;
}

} // namespace

namespace {

// Packages damaged after building: cut at a region boundary, trailer
// offsets that overlap or wrap, an archive directory that claims more than
// the region holds. Each ends by itself, with one warning at most and no
// crash, and writes nothing outside the workspace.
struct BrokenRow {
    const char* name;
    int kind;
    long value;
};

std::ostream& operator<<(std::ostream& os, const BrokenRow& row) { return os << row.name; }

enum { CUT_AT_A, CUT_AT_B, CUT_AT_T, CUT_IN_TRAILER, SET_OFFSET_A, SET_OFFSET_B, MORE_ENTRIES, LARGER_SIZE };

const BrokenRow brokenRows[] = {
    {"cut_at_archive_a", CUT_AT_A, 0},
    {"cut_inside_archive_a", CUT_AT_A, 100},
    {"cut_at_archive_b", CUT_AT_B, 0},
    {"cut_at_trailer", CUT_AT_T, 0},
    {"cut_inside_trailer", CUT_IN_TRAILER, 40},
    {"offset_a_equals_b", SET_OFFSET_A, -1},
    {"offset_a_wraps", SET_OFFSET_A, long(0xfffffff0u)},
    {"offset_b_past_trailer", SET_OFFSET_B, 1000},
    {"offset_b_before_a", SET_OFFSET_B, -100000},
    {"directory_claims_more_entries", MORE_ENTRIES, 0},
    {"directory_claims_larger_size", LARGER_SIZE, 0},
};

void put32(std::string& bytes, size_t at, uint32_t v) { memcpy(&bytes[at], &v, 4); }

class BrokenPackage : public testing::TestWithParam<BrokenRow> {};

TEST_P(BrokenPackage, EndsWithOneWarningAtMost)
{
    const BrokenRow& row = GetParam();
    package p = makepackage(L"broken_" + harness::widen(row.name));
    std::string bytes = readfile(p.exe);
    size_t t = bytes.size() - 81;
    uint32_t a = trailerfield(bytes, 0), b = trailerfield(bytes, 36);
    switch (row.kind) {
    case CUT_AT_A: bytes.resize(a + size_t(row.value)); break;
    case CUT_AT_B: bytes.resize(b); break;
    case CUT_AT_T: bytes.resize(t); break;
    case CUT_IN_TRAILER: bytes.resize(t + size_t(row.value)); break;
    case SET_OFFSET_A: put32(bytes, t, row.value == -1 ? b : uint32_t(row.value)); break;
    case SET_OFFSET_B: put32(bytes, t + 36, uint32_t(long(b) + row.value)); break;
    case MORE_ENTRIES: {
        // Archive A's end record lies right before offsetB.
        size_t end = b - 22;
        ASSERT_EQ(bytes.compare(end, 4, "PK\x05\x06"), 0);
        put32(bytes, end + 8, 0xfff0fff0u); // entries on this disk and in total
        break;
    }
    case LARGER_SIZE: {
        size_t end = b - 22;
        uint32_t cdoffset;
        memcpy(&cdoffset, &bytes[end + 16], 4);
        size_t first = a + cdoffset;
        ASSERT_EQ(bytes.compare(first, 4, "PK\x01\x02"), 0);
        put32(bytes, first + 20, 0x7ffffff0u); // compressed size
        put32(bytes, first + 24, 0x7ffffff0u); // uncompressed size
        break;
    }
    }
    ASSERT_TRUE(writefile(p.exe, bytes));
    harness::runresult r = install(p, L"1 x");
    EXPECT_FALSE(r.timedout);
    EXPECT_TRUE(r.exitcode == 0u || r.exitcode == DWORD(-1)) << std::hex << r.exitcode;
    EXPECT_LE(r.warnings.size(), 1u);
    EXPECT_FALSE(fileexists(p.tmp + L"\\evil.txt"));
    // Whatever was written lies below the workspace.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((p.tmp + L"\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        std::wstring name = data.cFileName;
        EXPECT_TRUE(name == L"." || name == L".." || name == L"setup") << harness::narrow(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

INSTANTIATE_TEST_SUITE_P(Installer, BrokenPackage, testing::ValuesIn(brokenRows),
                         [](const testing::TestParamInfo<BrokenRow>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// The directory the installer moved an earlier workspace to (setup.<digits>
// beside it), or an empty string when there is none.
std::wstring movedaside(const std::wstring& tmp)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((tmp + L"\\setup.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring name;
    // The pattern also matches "setup" itself.
    do {
        if (std::wstring(found.cFileName) != L"setup") name = found.cFileName;
    } while (name.empty() && FindNextFileW(find, &found));
    FindClose(find);
    return name.empty() ? name : tmp + L"\\" + name;
}

// What an earlier run left behind and cannot be removed: an uninstaller and
// a file of the package's own that other processes hold open, a read-only
// file (on Windows a read-only file cannot be deleted; Wine, run as root,
// deletes it). None of it is adopted: what stays is moved aside whole, and
// the package is extracted into a fresh workspace, so the setup program
// finds exactly the package's tree.
TEST(Installer, LeftoversThatCannotBeRemovedAreMovedAsideNeverAdopted)
{
    package p = makepackage(L"leftovers");
    writetree(p.workspace(), {{L"uninstall.exe", "locked uninstaller"},
                              {L"data\\empty.txt", "locked data"},
                              {L"old\\readonly.txt", "read-only"}});
    std::wstring readonly = p.workspace() + L"\\old\\readonly.txt";
    ASSERT_TRUE(SetFileAttributesW(readonly.c_str(), FILE_ATTRIBUTE_READONLY));
    auto lock = [](const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE uninstaller = lock(p.workspace() + L"\\uninstall.exe");
    HANDLE data = lock(p.workspace() + L"\\data\\empty.txt");
    ASSERT_NE(uninstaller, INVALID_HANDLE_VALUE);
    ASSERT_NE(data, INVALID_HANDLE_VALUE);
    harness::runresult r = install(p, L"1 x");
    CloseHandle(uninstaller);
    CloseHandle(data);
    std::wstring aside = movedaside(p.tmp);
    ASSERT_FALSE(aside.empty()) << r.output;
    SetFileAttributesW((aside + L"\\old\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_NE(r.output.find("main intitemp 393: left <"), std::string::npos) << r.output;
    EXPECT_EQ(readfile(aside + L"\\uninstall.exe"), "locked uninstaller");
    EXPECT_EQ(readfile(aside + L"\\data\\empty.txt"), "locked data");
    EXPECT_EQ(readfile(p.workspace() + L"\\uninstall.exe").compare(0, 2, "MZ"), 0)
        << "the uninstaller is made from this package's setup program";
    EXPECT_EQ(readfile(p.workspace() + L"\\data\\empty.txt"), "");
    EXPECT_FALSE(fileexists(p.workspace() + L"\\old\\readonly.txt"));
    EXPECT_EQ(readfile(p.workspace() + L"\\a\\b\\c\\deep.txt"), "deep");
    EXPECT_EQ(r.output.find("filename failed!"), std::string::npos) << r.output;
    EXPECT_TRUE(fileexists(p.record()));
}

} // namespace

namespace {

// Run in a process whose ANSI code page is 936: a package whose name holds
// Chinese characters, as a download saved under a Chinese title would. The
// configuration names it in UTF-8, the channel file in the ANSI code page.
TEST(ChineseLocale, PackageNameInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 936u) << "this test runs under a Chinese locale";
    package p = makepackage(L"chinese_locale");
    std::wstring name = L"\u5b89\u88c5\u5305.exe";
    std::wstring renamed = p.src + L"\\" + name;
    ASSERT_TRUE(MoveFileW(p.exe.c_str(), renamed.c_str()));
    p.exe = renamed;
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    std::string config = readfile(p.workspace() + L"\\config.xml");
    EXPECT_NE(config.find("path=\"" + harness::narrow(p.exe) + "\""), std::string::npos) << config;
    std::string channel = readfile(p.workspace() + L"\\channel.cfg");
    EXPECT_EQ(channel, "\xb0\xb2\xd7\xb0\xb0\xfc.exe") << "the name's GBK bytes";
}

// In code page 936 many characters end in the byte 0x5C, the separator: the
// file "\u7c60" (GBK BB 5C) is no directory, nor is "\u4e57" (GBK 81 5C).
TEST(ChineseLocale, NamesEndingInTheSeparatorByteAreBuiltAndInstalled)
{
    ASSERT_EQ(GetACP(), 936u) << "this test runs under a Chinese locale";
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"setup\\\u7c60", "top level, no extension"},
        {L"setup\\\u4e57\\\u7c60", std::string(70000, 'z') + "below a directory whose name ends in 0x5C"},
    };
    package p = makepackage(L"chinese_locale_separator_byte", files);
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    for (const auto& file : files) {
        std::wstring installed = p.tmp + L"\\" + file.first;
        EXPECT_TRUE(fileexists(installed)) << harness::narrow(file.first);
        EXPECT_TRUE(readfile(installed) == file.second) << harness::narrow(file.first);
    }
}

} // namespace

namespace {

// Links an earlier run (or another process of the same user) left in the
// workspace. Links are made from the Linux side: Wine runs Unix programs,
// and a Unix symbolic link to a directory is a reparse point to Windows
// programs there. Wine opens, deletes and moves a link's target where
// Windows acts on the link, so every target holds files: they must all
// survive unchanged, and nothing may be added beside them.
std::string unixpath(const std::wstring& windowspath)
{
    std::string path = harness::narrow(windowspath.substr(2)); // after "Z:"
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool listed(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE found = FindFirstFileW(path.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) return false;
    FindClose(found);
    return true;
}

// Runs a Unix program and waits until the link is there (or gone): Wine
// does not wait for a Unix program's end.
bool unixlink(const std::wstring& program, const std::wstring& arguments, const std::wstring& link, bool present)
{
    harness::runoptions options;
    options.application = program;
    harness::run(L"x " + arguments, options);
    for (int tries = 0; tries < 500; ++tries) {
        if (listed(link) == present) return true;
        Sleep(10);
    }
    return false;
}

std::wstring quoted(const std::wstring& windowspath) { return L"\"" + harness::widen(unixpath(windowspath)) + L"\""; }

// A link at link to target, replacing one a failed earlier run left.
bool makelink(const std::wstring& target, const std::wstring& link)
{
    return unixlink(L"Z:\\bin\\ln", L"-sfn " + quoted(target) + L" " + quoted(link), link, true);
}

// Removes the link itself (a Windows program under Wine would reach its target).
bool droplink(const std::wstring& link) { return unixlink(L"Z:\\bin\\rm", L"-f " + quoted(link), link, false); }

// Every file below dir with its content, in listing order.
std::string snapshot(const std::wstring& dir)
{
    std::string all;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return "(missing)";
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = dir + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            all += harness::narrow(name) + "/{" + snapshot(path) + "}";
        else
            all += harness::narrow(name) + "=" + readfile(path) + ";";
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return all;
}

struct LinkRow {
    const char* name;
    const wchar_t* link; // below TMP
    bool tofile;         // the link leads to outside\keep\kept.txt, else to outside\keep
};

std::ostream& operator<<(std::ostream& os, const LinkRow& row) { return os << row.name; }

const LinkRow linkRows[] = {
    {"top_of_the_workspace", L"setup\\evil", false}, {"a_level_down", L"setup\\a\\evil", false},
    {"file_link", L"setup\\evil.txt", true},         {"file_link_over_an_entry", L"setup\\data\\empty.txt", true},
    {"the_workspace_itself", L"setup", false},       {"directory_of_an_entry", L"setup\\a\\b", false},
};

class Links : public testing::TestWithParam<LinkRow> {};

TEST_P(Links, NothingBehindALinkIsTouched)
{
    const LinkRow& row = GetParam();
    package p = makepackage(L"link_" + harness::widen(row.name));
    std::wstring outside = p.dir + L"\\outside";
    writetree(outside, {{L"keep\\kept.txt", "must stay"}, {L"keep\\inner\\also.txt", "must stay too"}});
    std::wstring link = p.tmp + L"\\" + row.link;
    makedirs(link.substr(0, link.find_last_of(L'\\')));
    ASSERT_TRUE(makelink(outside + (row.tofile ? L"\\keep\\kept.txt" : L"\\keep"), link));
    std::string before = snapshot(outside);

    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(snapshot(outside), before) << r.output;
    EXPECT_LE(r.warnings.size(), 1u);
    // Windows removes a link as itself; Wine only ever reaches its target,
    // so there it stays, nothing is written through it, and the tree that
    // holds it is moved aside whole. The workspace itself as a link that
    // stays cannot be moved aside (Wine would move its target): the install
    // stops.
    bool itself = std::wstring(row.link) == L"setup";
    std::wstring aside = movedaside(p.tmp);
    std::wstring left = aside.empty() || itself ? link : aside + link.substr(p.workspace().size());
    bool stayed = listed(left);
    EXPECT_TRUE(!stayed || droplink(left));
    if (itself && stayed) {
        EXPECT_TRUE(r.warnings.empty()) << "a hidden run refuses without a box";
        EXPECT_EQ(r.exitcode, DWORD(-1)) << "nothing is started through the link";
        EXPECT_NE(r.output.find("main intitemp 394: workspace <"), std::string::npos) << r.output;
        EXPECT_FALSE(fileexists(p.record()));
        return;
    }
    EXPECT_TRUE(r.warnings.empty()) << r.output;
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(fileexists(p.record())) << "the setup program ran";
    EXPECT_EQ(readfile(p.workspace() + L"\\data\\big.bin"), sampletree()[1].second);
    // The fresh workspace holds the whole package, also below a leftover link's name.
    EXPECT_EQ(readfile(p.workspace() + L"\\a\\b\\c\\deep.txt"), "deep");
    if (stayed) {
        EXPECT_NE(r.output.find("left in place"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("main intitemp 393: left <"), std::string::npos) << r.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Installer, Links, testing::ValuesIn(linkRows),
                         [](const testing::TestParamInfo<LinkRow>& info) { return std::string(info.param.name); });

// A package with an entry deep\payload.txt (as setup\deep\payload.txt)
// whose directory is a leftover link: the link is never written through;
// where it stays (Wine), it is moved aside with its tree and the entry is
// written into the fresh workspace.
TEST(Installer, EntryBehindALeftoverLinkIsNotWritten)
{
    package p = makepackage(L"link_deep_payload", {{L"setup\\deep\\payload.txt", "payload"}});
    std::wstring outside = p.dir + L"\\outside";
    writetree(outside, {{L"kept.txt", "must stay"}});
    makedirs(p.workspace());
    ASSERT_TRUE(makelink(outside, p.workspace() + L"\\deep"));
    harness::runresult r = install(p, L"1 x");
    EXPECT_EQ(snapshot(outside), "kept.txt=must stay;");
    std::wstring aside = movedaside(p.tmp);
    bool stayed = !aside.empty() && listed(aside + L"\\deep");
    EXPECT_TRUE(!stayed || droplink(aside + L"\\deep"));
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(readfile(p.workspace() + L"\\deep\\payload.txt"), "payload");
    EXPECT_EQ(r.output.find("filename failed!"), std::string::npos) << r.output;
    EXPECT_TRUE(fileexists(p.record()));
}

} // namespace

namespace {

// One hidden installer run on a thread of its own.
struct installrun {
    std::wstring exe;
    std::wstring record;
    std::wstring tmp;
    harness::runresult result;
};

DWORD WINAPI runinstaller(void* param)
{
    installrun* s = static_cast<installrun*>(param);
    harness::runoptions options;
    options.application = s->exe;
    options.env = {{L"TMP", s->tmp},
                   {L"TEMP", s->tmp},
                   {L"STANDIN_RECORD", s->record},
                   {L"STANDIN_SLEEP_MS", L"1500"},
                   {L"VQNAUTOI", L"1"}};
    options.timeoutms = 120000;
    s->result = harness::run(L"\"" + s->exe + L"\"", options);
    return 0;
}

// Two packages started half a second apart share the workspace: the second
// waits until the first has ended, so each setup program finds the whole tree.
TEST(Installer, TwoInstallersOneAfterTheOther)
{
    std::string large = ziptest::noise(6000000, 11);
    package p = makepackage(L"two_installers", {{L"setup\\large.bin", large}});
    std::wstring second = p.src + L"\\second.exe";
    ASSERT_TRUE(CopyFileW(p.exe.c_str(), second.c_str(), FALSE));
    installrun runs[2] = {{p.exe, p.dir + L"\\record1.txt", p.tmp, {}}, {second, p.dir + L"\\record2.txt", p.tmp, {}}};
    HANDLE first = CreateThread(nullptr, 0, runinstaller, &runs[0], 0, nullptr);
    Sleep(500);
    HANDLE then = CreateThread(nullptr, 0, runinstaller, &runs[1], 0, nullptr);
    WaitForSingleObject(first, INFINITE);
    WaitForSingleObject(then, INFINITE);
    CloseHandle(first);
    CloseHandle(then);
    std::vector<std::string> expected = {"tree=large.bin " + std::to_string(large.size()),
                                         "tree=data\\big.bin " + std::to_string(sampletree()[1].second.size()),
                                         "tree=a\\b\\c\\deep.txt 4",
                                         "tree=rEdizo.exe ",
                                         "tree=uninstall.exe ",
                                         "tree=channel.cfg "};
    for (const installrun& s : runs) {
        EXPECT_FALSE(s.result.timedout);
        EXPECT_EQ(s.result.exitcode, 0u) << s.result.output;
        std::string record = readfile(s.record);
        for (const std::string& line : expected)
            EXPECT_NE(record.find(line), std::string::npos) << line << "\n" << record;
    }
}

} // namespace

namespace {

// The workspace line is written at every start, also when the temporary
// directory has no narrow name (here: a name outside the code page, for a
// directory that does not exist, so it has no short name either).
TEST(Installer, DeletePathLineWithoutANarrowName)
{
    package p = makepackage(L"no_narrow_name");
    p.tmp = p.dir + L"\\\u7528\u6237\u4e0d\u5728";
    harness::runresult r = install(p, L"1 x");
    EXPECT_NE(r.output.find("main intitemp 392: delete path is <"), std::string::npos) << r.output;
    EXPECT_FALSE(fileexists(p.record())) << "nothing is started";
}

} // namespace

namespace {

// Typed in a console without its extension, the package still reads itself:
// its own file comes from the system, not from argv[0].
TEST(Installer, StartedWithoutItsExtension)
{
    package p = makepackage(L"no_extension");
    std::wstring bare = p.exe.substr(0, p.exe.size() - 4);
    harness::runresult r = install(p, L"1 x", {}, L"\"" + bare + L"\"");
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.output.find("Open file failed"), std::string::npos) << r.output;
    EXPECT_TRUE(fileexists(p.record()));
}

// Another process took the workspace's lock with a DACL that lets nobody
// in: the installer does not go on without it; it says so and stops, in a
// box when shown, and only in its line and exit code when hidden (an
// unattended install must not wait for a click).
TEST(Installer, LockTakenByAnotherProcessStops)
{
    for (bool hidden : {true, false}) {
        package p = makepackage(hidden ? L"lock_taken_hidden" : L"lock_taken_shown");
        HANDLE squatter = harness::mutexnobodyopens(workspacelockname(p.tmp + L"\\"));
        ASSERT_NE(squatter, nullptr);
        harness::runresult r = install(p, hidden ? L"1 x" : L"");
        CloseHandle(squatter);
        EXPECT_EQ(texts(r), hidden ? std::vector<std::string>{}
                                   : std::vector<std::string>{"Cannot prepare the setup directory!"});
        EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
        EXPECT_NE(r.output.find("refused: its lock cannot be taken"), std::string::npos) << r.output;
        EXPECT_FALSE(fileexists(p.record()));
    }
}

} // namespace

namespace {

struct backgroundinstall {
    const package* p;
    harness::runresult result;
};

DWORD WINAPI installinbackground(void* param)
{
    backgroundinstall* b = static_cast<backgroundinstall*>(param);
    b->result = install(*b->p, L"1 x", {{L"STANDIN_SLEEP_MS", L"3000"}});
    return 0;
}

// While the setup program runs, another process of the user tries to move
// the workspace away (to put its own tree in its place): the installer
// holds it, so the rename is refused.
TEST(Installer, WorkspaceCannotBeRenamedWhileTheSetupProgramRuns)
{
    package p = makepackage(L"rename_while_running");
    backgroundinstall b = {&p, {}};
    HANDLE thread = CreateThread(nullptr, 0, installinbackground, &b, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    bool running = false;
    for (int tries = 0; tries < 600 && !running; ++tries) {
        running = fileexists(p.record());
        if (!running) Sleep(50);
    }
    std::wstring moved = p.tmp + L"\\moved";
    BOOL renamed = running && MoveFileExW(p.workspace().c_str(), moved.c_str(), 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(running) << b.result.output;
    EXPECT_FALSE(renamed);
    EXPECT_EQ(b.result.exitcode, 0u) << b.result.output;
}

} // namespace

namespace {

// TEMP=C:\Windows set by the user for an elevated install: the Windows
// directory is nobody's temporary directory, whatever its descriptor says
// (Wine's say the user owns everything), so nothing in it is deleted, moved
// aside or written, and the hidden run ends with its line and -1, no box.
TEST(Installer, TheWindowsDirectoryAsTempIsNeverTouched)
{
    package p = makepackage(L"windows_as_temp");
    wchar_t windows[MAX_PATH];
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::wstring system = std::wstring(windows, n);
    std::wstring setup = system + L"\\setup";
    bool existed = fileexists(setup);
    makedirs(setup);
    std::wstring marker = setup + L"\\installer_test_marker.txt";
    ASSERT_TRUE(writefile(marker, "the system's own"));
    p.tmp = system;
    harness::runresult r = install(p, L"1 x");
    std::string kept = readfile(marker);
    DeleteFileW(marker.c_str());
    if (!existed) RemoveDirectoryW(setup.c_str());
    EXPECT_EQ(kept, "the system's own");
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_NE(r.output.find("refused: the temporary directory is a directory of the system"), std::string::npos)
        << r.output;
    EXPECT_FALSE(fileexists(p.record()));
}

// TEMP leads through a link (a junction on Windows). The elevated install
// names the directory it holds by that directory's own path: the setup
// program starts there, and sees %TEMP%\setup by its real name.
TEST(Installer, TempThroughALinkIsNamedByWhatIsHeld)
{
    package p = makepackage(L"temp_through_link");
    std::wstring link = p.dir + L"\\templink";
    ASSERT_TRUE(harness::makeunixlink("tmp", link));
    std::string held = harness::narrow(p.workspace());
    p.tmp = link;
    harness::runresult r = install(p, L"1 x");
    harness::removeunixlink(link);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    std::string record = readfile(p.record());
    EXPECT_NE(record.find("cwd=" + held + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("cmdline=\"" + held + "\\rEdizo.exe\""), std::string::npos) << record;
}

struct showninstall {
    const package* p;
    std::wstring record;
    std::wstring sleepms;
    harness::runresult result;
};

DWORD WINAPI installshown(void* param)
{
    showninstall* s = static_cast<showninstall*>(param);
    s->result = install(*s->p, L"", {{L"STANDIN_RECORD", s->record}, {L"STANDIN_SLEEP_MS", s->sleepms}});
    return 0;
}

// A second shown installer while the first one's setup program runs: it
// says that it waits (a line, and a box of its own while it waits), goes on
// by itself once the first has ended, and its setup program finds the whole tree.
TEST(Installer, AShownInstallerSaysItWaitsAndGoesOn)
{
    package p = makepackage(L"shown_waits");
    std::wstring second = p.src + L"\\second.exe";
    ASSERT_TRUE(CopyFileW(p.exe.c_str(), second.c_str(), FALSE));
    package q = p;
    q.exe = second;
    showninstall first = {&p, p.dir + L"\\record1.txt", L"4000", {}};
    showninstall then = {&q, p.dir + L"\\record2.txt", L"0", {}};
    HANDLE one = CreateThread(nullptr, 0, installshown, &first, 0, nullptr);
    ASSERT_NE(one, nullptr);
    bool running = false;
    for (int tries = 0; tries < 6000 && !running; ++tries) {
        running = fileexists(first.record);
        if (!running) Sleep(20);
    }
    ASSERT_TRUE(running);
    HANDLE two = CreateThread(nullptr, 0, installshown, &then, 0, nullptr);
    ASSERT_NE(two, nullptr);
    WaitForSingleObject(one, INFINITE);
    WaitForSingleObject(two, INFINITE);
    CloseHandle(one);
    CloseHandle(two);
    EXPECT_EQ(first.result.exitcode, 0u) << first.result.output;
    EXPECT_EQ(then.result.exitcode, 0u) << then.result.output;
    EXPECT_NE(then.result.output.find("waiting for the installer that works in <"), std::string::npos)
        << then.result.output;
    const std::string box = "#32770|Morvane\xe5\xae\x89\xe8\xa3\x85\xe7\xa8\x8b\xe5\xba\x8f";
    EXPECT_NE(std::find(then.result.windows.begin(), then.result.windows.end(), box), then.result.windows.end())
        << "the wait shows";
    EXPECT_NE(readfile(then.record).find("tree=a\\b\\c\\deep.txt 4"), std::string::npos) << readfile(then.record);
}

} // namespace
