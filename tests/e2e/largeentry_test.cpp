// An entry of 5 GiB through the installer: it is written whole when sound,
// and refused ("Uncompress failed!", no file under its name) when its
// recorded size keeps only the low 32 bits of the real one (1 GiB), which
// a reader comparing 32-bit sizes would take for sound. The package stays at
// a few MB (largezip.h); the 5 GiB file the installer writes is removed.
#include "harness.h"
#include "ziptestkit.h"

#include "../helpers/largezip.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const uint64_t LARGE = 5ull << 30;

struct LargeRow {
    const char* name;
    uint64_t recorded; // the size the central record gives
    bool sound;
};

std::ostream& operator<<(std::ostream& os, const LargeRow& row) { return os << row.name; }

const LargeRow largeRows[] = {
    {"sound", LARGE, true},
    {"size_cut_to_32_bits", LARGE & 0xFFFFFFFFu, false},
};

class LargeEntry : public testing::TestWithParam<LargeRow> {};

uint64_t filesize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

TEST_P(LargeEntry, InstalledWholeOrRefused)
{
    const LargeRow& row = GetParam();
    std::wstring dir = harness::scratchdir(L"large_" + harness::widen(row.name));
    std::wstring tmp = dir + L"\\tmp";
    CreateDirectoryW(tmp.c_str(), nullptr);
    std::wstring large = tmp + L"\\setup\\large.bin";
    struct removed {
        std::wstring path;
        ~removed() { DeleteFileW(path.c_str()); }
    } guard{large};

    std::string a = largezip::zeroarchive(harness::narrow(dir + L"\\a.zip"),
                                          testfiles::readfile(harness::standinsetupexe()), "setup\\large.bin", LARGE);
    ASSERT_GT(a.size(), 0u);
    ASSERT_TRUE(largezip::setrecordedsize(a, row.recorded));
    std::string package = ziptest::makepackage(testfiles::readfile(harness::bootstrapexe()), a, ziptest::makezip({}));
    std::wstring exe = dir + L"\\pkg.exe";
    ASSERT_TRUE(testfiles::writefile(exe, package));

    harness::runoptions options;
    options.workdir = dir;
    options.env = {{L"TMP", tmp}, {L"TEMP", tmp}, {L"STANDIN_RECORD", dir + L"\\record.txt"}};
    options.watchwarnings = true;
    // Writing 5 GiB takes half a minute on a quiet machine, many times that on
    // a busy or an emulated one: only a hang may stop it.
    options.timeoutms = 90 * 60 * 1000;
    harness::runresult r = harness::run(L"\"" + exe + L"\" 1 x", options);
    ASSERT_FALSE(r.timedout);
    EXPECT_EQ(r.exitcode, 0u) << r.output;
    std::vector<std::string> warnings;
    for (const auto& w : r.warnings) warnings.push_back(w.text);
    if (row.sound) {
        EXPECT_TRUE(warnings.empty()) << r.output;
        EXPECT_EQ(filesize(large), LARGE);
    } else {
        EXPECT_EQ(warnings, std::vector<std::string>{"Uncompress failed!"});
        EXPECT_FALSE(harness::fileexists(large)) << "no damaged file under the entry's name";
    }
    EXPECT_TRUE(harness::fileexists(dir + L"\\record.txt")) << "the setup program runs";
}

INSTANTIATE_TEST_SUITE_P(Installer, LargeEntry, testing::ValuesIn(largeRows),
                         [](const testing::TestParamInfo<LargeRow>& info) { return std::string(info.param.name); });

} // namespace
