// LZMA packages under Wine: one tree packed by the native packer with
// deflate and with LZMA (tests/lzmapackages.sh, run before this test)
// installs the same files either way, and an entry the installer cannot
// decode, a damaged LZMA entry or one of an unknown method, ends the
// extraction with "Uncompress failed!" and no file under its name.
#include "harness.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::string packagesdir() { return LZMA_PACKAGES_DIR; }

std::vector<std::string> texts(const harness::runresult& r)
{
    std::vector<std::string> out;
    for (const auto& w : r.warnings) out.push_back(w.text);
    return out;
}

// Runs a package with TMP at dir\tmp: the workspace is dir\tmp\setup.
harness::runresult install(const std::wstring& package, const std::wstring& dir)
{
    std::wstring tmp = dir + L"\\tmp";
    CreateDirectoryW(tmp.c_str(), nullptr);
    harness::runoptions options;
    options.workdir = dir;
    options.env = {{L"TMP", tmp}, {L"TEMP", tmp}, {L"STANDIN_RECORD", dir + L"\\record.txt"}};
    options.watchwarnings = true;
    options.timeoutms = 300000;
    return harness::run(L"\"" + package + L"\" 1 x", options);
}

uint32_t field32(const std::string& bytes, size_t at)
{
    return uint32_t((unsigned char)bytes[at]) | uint32_t((unsigned char)bytes[at + 1]) << 8 |
           uint32_t((unsigned char)bytes[at + 2]) << 16 | uint32_t((unsigned char)bytes[at + 3]) << 24;
}

TEST(LzmaInstall, SameTreeAsTheDeflatePackage)
{
    std::wstring dir = harness::testscratchdir();
    std::string src = harness::narrow(harness::winpath(packagesdir() + "/src/setup"));
    std::vector<std::string> packed = ziptest::treefiles(src);
    ASSERT_FALSE(packed.empty());
    std::vector<std::string> installed[2];
    const char* methods[2] = {"deflate", "lzma"};
    for (int i = 0; i < 2; ++i) {
        std::wstring run = dir + L"\\" + harness::widen(methods[i]);
        CreateDirectoryW(run.c_str(), nullptr);
        harness::runresult r = install(harness::winpath(packagesdir() + "/" + methods[i] + ".exe"), run);
        ASSERT_FALSE(r.timedout) << methods[i];
        EXPECT_EQ(r.exitcode, 0u) << methods[i] << r.output;
        EXPECT_TRUE(texts(r).empty()) << methods[i] << r.output;
        EXPECT_TRUE(harness::fileexists(run + L"\\record.txt")) << methods[i] << ": the setup program did not run";
        std::string workspace = harness::narrow(run + L"\\tmp\\setup");
        installed[i] = ziptest::treefiles(workspace);
        // config.xml is stamped with the package's path: every other file
        // is the packed one, byte for byte.
        for (const std::string& name : packed) {
            if (name == "config.xml") continue;
            EXPECT_TRUE(ziptest::readfile(workspace + "\\" + name) == ziptest::readfile(src + "\\" + name))
                << methods[i] << ": " << name << " differs from the packed file";
        }
    }
    EXPECT_EQ(installed[0], installed[1]) << "the two packages install different trees";
    for (const std::string& name : packed)
        EXPECT_NE(std::find(installed[1].begin(), installed[1].end(), name), installed[1].end()) << name;
}

// A package the installer must refuse at one entry: the entry, and how the
// package is made.
struct RefusedRow {
    const char* label;
    const char* entry; // relative to the workspace
    bool damagedlzma;  // the LZMA package with a byte of the entry's data changed; else hand-made
};

std::ostream& operator<<(std::ostream& os, const RefusedRow& row) { return os << row.label; }

const RefusedRow REFUSED[] = {
    {"damaged_lzma_entry", "setup\\docs\\deeper\\numbers.txt", true},
    // minizip hands the data of method 12 out as stored; these are the
    // file's own bytes with their CRC-32, and still must not be written.
    {"unknown_method", "setup\\stored12.bin", false},
};

// The LZMA package with a byte in the middle of name's data flipped.
std::string damagedpackage(const std::string& name)
{
    std::string package = ziptest::readfile(harness::winpath(packagesdir() + "/lzma.exe"));
    size_t trailer = package.size() - 81;
    uint32_t a = field32(package, trailer), b = field32(package, trailer + 36);
    ziptest::parsedzip zip = ziptest::parsezip(package.substr(a, b - a));
    EXPECT_TRUE(zip.fault.empty()) << zip.fault;
    for (size_t i = 0; i < zip.central.size(); ++i) {
        const ziptest::centralrecord& c = zip.central[i];
        if (c.name != name) continue;
        EXPECT_EQ(c.method, 14) << name << " is not an LZMA entry";
        size_t data = a + c.localoffset + 30 + zip.local[i].namelength + zip.local[i].extralength;
        package[data + c.compressed / 2] ^= 0x20;
        return package;
    }
    ADD_FAILURE() << name << " not in the package";
    return std::string();
}

class LzmaRefused : public testing::TestWithParam<RefusedRow> {};

TEST_P(LzmaRefused, UncompressFailedAndNoFileUnderItsName)
{
    const RefusedRow& row = GetParam();
    std::wstring dir = harness::scratchdir(L"lzma_refused_" + harness::widen(row.label));
    std::string package;
    if (row.damagedlzma) {
        package = damagedpackage(row.entry);
    } else {
        ziptest::handentry setup("setup\\rEdizo.exe", ziptest::readfile(harness::standinsetupexe()));
        ziptest::handentry unknown(row.entry, ziptest::noise(20000, 3));
        unknown.method = 12;
        unknown.compressed = unknown.data;
        ziptest::handentry after("setup\\zz_after.txt", "never reached");
        package = ziptest::makepackage(ziptest::readfile(harness::bootstrapexe()),
                                       ziptest::makezip({setup, unknown, after}), ziptest::makezip({}));
    }
    ASSERT_FALSE(package.empty());
    std::wstring exe = dir + L"\\pkg.exe";
    ASSERT_TRUE(ziptest::writefile(exe, package));

    // The exit code is the hand-off's, which depends on whether the setup
    // program came before the entry: not judged here.
    harness::runresult r = install(exe, dir);
    ASSERT_FALSE(r.timedout);
    EXPECT_EQ(texts(r), std::vector<std::string>{"Uncompress failed!"}) << r.output;
    EXPECT_FALSE(harness::fileexists(dir + L"\\tmp\\" + harness::widen(row.entry))) << "a file under the entry's name";
    EXPECT_FALSE(harness::fileexists(dir + L"\\tmp\\setup\\zz_after.txt")) << "extraction goes on after the entry";
}

INSTANTIATE_TEST_SUITE_P(Installer, LzmaRefused, testing::ValuesIn(REFUSED),
                         [](const testing::TestParamInfo<RefusedRow>& info) { return std::string(info.param.label); });

} // namespace
