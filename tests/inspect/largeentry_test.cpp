// An entry of 5 GiB through the inspector: its size only fits 64 bits, and
// a reader that kept 32 of them would take it for 1 GiB. The package stays
// at a few MB in the test's temporary directory (largezip.h); the entry
// itself is never written to disk.
#include "packageinspect.h"

#include "../helpers/largezip.h"

#include "testfiles.h"
#include "testpackage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using largezip::MIB;
using testfiles::writefile;
const uint64_t LARGE = 5ull << 30;
const char LARGE_NAME[] = "setup\\large.bin";

// The large archive as archive A, an archive without entries as archive B.
std::string makepackage(const std::string& a)
{
    return testpackage::makepackage("MZ" + std::string(1022, '\0'), a, testpackage::emptyarchive());
}

std::string describe(const std::vector<finding>& findings)
{
    std::string out;
    for (const finding& f : findings) out += f.name + ": " + f.text + f.other + "\n";
    return out;
}

// Verifies the package at path: the verdict, its findings in findings.
int verifyfile(const std::string& path, std::vector<finding>& findings, uint64_t& listed)
{
    FILE* stream = fopen(path.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream) return -1;
    packageinspector inspector;
    EXPECT_EQ(inspector.open(stream), INSPECT_SOUND);
    listed = inspector.package().a.entries.size() == 2 ? inspector.package().a.entries[1].size : 0;
    int verdict = inspector.verify(1252, findings);
    fclose(stream);
    return verdict;
}

TEST(LargeEntry, SoundPassesAndA32BitSizeFails)
{
    const std::string dir = testing::TempDir();
    const std::string archivepath = dir + "inspect_large_archive.zip";
    const std::string packagepath = dir + "inspect_large_package.exe";
    struct removed {
        std::string path;
        ~removed() { remove(path.c_str()); }
    } guard{packagepath};
    const std::string archive = largezip::zeroarchive(archivepath, "MZ" + std::string(3000, 'p'), LARGE_NAME, LARGE);
    ASSERT_GT(archive.size(), 0u);
    ASSERT_LT(archive.size(), 16 * MIB);

    writefile(packagepath, makepackage(archive));
    std::vector<finding> findings;
    uint64_t listed = 0;
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_SOUND) << describe(findings);
    EXPECT_EQ(listed, LARGE);

    // The size a 32-bit reader would see: the same low 32 bits.
    std::string cut = archive;
    ASSERT_TRUE(largezip::setrecordedsize(cut, LARGE & 0xFFFFFFFFu));
    writefile(packagepath, makepackage(cut));
    findings.clear();
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_FINDINGS);
    EXPECT_EQ(listed, LARGE & 0xFFFFFFFFu);
    ASSERT_EQ(findings.size(), 1u) << describe(findings);
    EXPECT_EQ(findings[0].name, LARGE_NAME);

    // One byte more than the data hold.
    std::string longer = archive;
    ASSERT_TRUE(largezip::setrecordedsize(longer, LARGE + 1));
    writefile(packagepath, makepackage(longer));
    findings.clear();
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_FINDINGS);
    ASSERT_EQ(findings.size(), 1u) << describe(findings);
    EXPECT_EQ(findings[0].text, "size mismatch (recorded " + std::to_string(LARGE + 1) + " bytes)");
}

} // namespace
