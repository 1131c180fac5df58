// The packer's LZMA packages end to end, natively: pack --method lzma writes
// the same bytes with any number of threads and memory bounds, LZMA where it
// shrinks a file and deflate where it does not, an independent reader
// (bsdtar, libarchive's ZIP reader) extracts archive A to the files packed,
// and the inspector finds each fault a row puts into an entry.
#include "archivewriter.h"
#include "packwalk.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A fresh directory for one test.
std::string scratch(const std::string& name)
{
    std::string dir = std::string(TEST_BINARY_DIR) + "/scratch/lzma_" + name;
    EXPECT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

// Runs a shell command: its exit status and what it printed.
int run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char piece[4096];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, pipe)) > 0) output.append(piece, got);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tree below dir/src: text that LZMA shrinks, noise it cannot, an empty
// file, a larger file, names with spaces, and an app tree (deflate whatever
// the method).
std::string maketree(const std::string& dir)
{
    std::string src = dir + "/src";
    std::string command = "mkdir -p '" + src + "/setup/docs/deep er' '" + src + "/app' && cd '" + src +
                          "' && printf 'program' >setup/rEdizo.exe && seq 1 60000 >'setup/docs/deep er/numbers.txt'"
                          " && head -c 70000 /dev/urandom >setup/docs/noise.bin && : >setup/empty.txt"
                          " && seq 1 300000 >setup/large.txt && echo app >app/app.txt";
    EXPECT_EQ(system(command.c_str()), 0);
    EXPECT_TRUE(testfiles::writefile(dir + "/stub.exe", std::string(4096, 'S')));
    return src;
}

std::string pack(const std::string& dir, const std::string& src, const std::string& name, const std::string& options)
{
    std::string out = dir + "/" + name;
    std::string output;
    EXPECT_EQ(
        run(std::string(PACK_PROGRAM) + " --stub '" + dir + "/stub.exe' " + options + " '" + src + "' '" + out + "'",
            output),
        0)
        << output;
    return out;
}

uint32_t field32(const std::string& bytes, size_t at)
{
    return uint32_t((unsigned char)bytes[at]) | uint32_t((unsigned char)bytes[at + 1]) << 8 |
           uint32_t((unsigned char)bytes[at + 2]) << 16 | uint32_t((unsigned char)bytes[at + 3]) << 24;
}

// Archive A of a package: offsetA and offsetB from the 81-byte trailer.
std::string archiveA(const std::string& package)
{
    size_t trailer = package.size() - 81;
    uint32_t a = field32(package, trailer);
    uint32_t b = field32(package, trailer + 36);
    return package.substr(a, b - a);
}

// Position of the local header of the entry named name in a package.
size_t localheader(const std::string& package, const std::string& name)
{
    for (size_t at = package.find("PK\x03\x04"); at != std::string::npos; at = package.find("PK\x03\x04", at + 1))
        if (package.compare(at + 30, name.size(), name) == 0) return at;
    return std::string::npos;
}

TEST(LzmaPackage, SameBytesWhateverTheThreadsAndMemory)
{
    std::string dir = scratch("reproducible");
    std::string src = maketree(dir);
    std::string one = testfiles::readfile(pack(dir, src, "one.exe", "--method lzma --threads 1"));
    std::string four = testfiles::readfile(pack(dir, src, "four.exe", "--method lzma --threads 4"));
    ASSERT_FALSE(one.empty());
    EXPECT_TRUE(one == four) << "packages differ with the number of threads";

    // The writer under the tightest bounds: every entry spills, one encoder
    // at a time, one entry queued.
    std::vector<packfile> files;
    std::string message;
    ASSERT_EQ(walktree(src, "setup", 1252, files, message), WALK_OK) << message;
    archivelimits tight;
    tight.queue = 1;
    tight.entry = 1024;
    tight.encoders = 1;
    ASSERT_TRUE(writearchive(dir + "/tight.zip", src, files, 3, message, tight, ARCHIVE_LZMA)) << message;
    EXPECT_TRUE(testfiles::readfile(dir + "/tight.zip") == archiveA(one)) << "archive A differs under tight bounds";
}

TEST(LzmaPackage, LzmaWhereItShrinksReadBackByAnIndependentReader)
{
    std::string dir = scratch("bsdtar");
    std::string src = maketree(dir);
    std::string package = pack(dir, src, "package.exe", "--method lzma");
    std::string output;
    ASSERT_EQ(run(std::string(INSPECT_PROGRAM) + " verify '" + package + "'", output), 0) << output;
    ASSERT_EQ(run(std::string(INSPECT_PROGRAM) + " list '" + package + "'", output), 0) << output;
    const char* expected[] = {
        "lzma      setup\\docs\\deep er\\numbers.txt",
        "deflate   setup\\docs\\noise.bin",
        "deflate   setup\\empty.txt",
        "lzma      setup\\large.txt",
        "deflate   app\\app.txt",
    };
    for (const char* line : expected) EXPECT_NE(output.find(line), std::string::npos) << line << " in\n" << output;

    ASSERT_TRUE(testfiles::writefile(dir + "/a.zip", archiveA(testfiles::readfile(package))));
    ASSERT_EQ(run("mkdir -p '" + dir + "/out' && bsdtar -xf '" + dir + "/a.zip' -C '" + dir + "/out'", output), 0)
        << output;
    EXPECT_EQ(run("diff -r '" + src + "/setup' '" + dir + "/out/setup'", output), 0) << output;
}

// A fault put into one entry of an LZMA package, and what the inspector
// says about it.
struct FaultRow {
    const char* label;
    const char* entry;
    size_t field;     // offset in the local header (and the same field in the central record) to set
    int value;        // the value set there; -1: a byte of the data flipped instead
    const char* text; // in verify's finding
};

std::ostream& operator<<(std::ostream& os, const FaultRow& row) { return os << row.label; }

const FaultRow FAULTS[] = {
    {"lzma_data_damaged", "setup\\large.txt", 0, -1, "setup\\large.txt: "},
    // minizip would hand the data out as stored: they must not pass.
    {"unknown_method", "setup\\docs\\noise.bin", 8, 12,
     "setup\\docs\\noise.bin: compressed by a method the installer cannot decode (method 12)"},
};

class LzmaFault : public testing::TestWithParam<FaultRow> {};

TEST_P(LzmaFault, FoundAndNothingWrittenUnderItsName)
{
    const FaultRow& row = GetParam();
    std::string dir = scratch(row.label);
    std::string src = maketree(dir);
    std::string path = pack(dir, src, "package.exe", "--method lzma");
    std::string package = testfiles::readfile(path);
    size_t local = localheader(package, row.entry);
    ASSERT_NE(local, std::string::npos);
    if (row.value < 0) {
        size_t data = local + 30 + size_t(uint16_t(field32(package, local + 26)));
        package[data + field32(package, local + 18) / 2] ^= 0x20;
    } else {
        // The central record holds the same field 2 bytes further on.
        size_t central = package.find(std::string("PK\x01\x02", 4));
        while (central != std::string::npos && package.compare(central + 46, strlen(row.entry), row.entry) != 0)
            central = package.find(std::string("PK\x01\x02", 4), central + 1);
        ASSERT_NE(central, std::string::npos);
        package[local + row.field] = char(row.value);
        package[central + row.field + 2] = char(row.value);
    }
    ASSERT_TRUE(testfiles::writefile(path, package));

    std::string output;
    EXPECT_EQ(run(std::string(INSPECT_PROGRAM) + " verify '" + path + "'", output), 1) << output;
    EXPECT_NE(output.find(row.text), std::string::npos) << output;
    EXPECT_EQ(run(std::string(INSPECT_PROGRAM) + " extract '" + path + "' '" + dir + "/out'", output), 1) << output;
    std::string written = std::string(row.entry).substr(6);
    for (char& c : written)
        if (c == '\\') c = '/';
    EXPECT_NE(system(("test -e '" + dir + "/out/setup/" + written + "'").c_str()), 0) << written << " written";
    EXPECT_EQ(system(("cmp -s '" + src + "/setup/rEdizo.exe' '" + dir + "/out/setup/rEdizo.exe'").c_str()), 0)
        << "the sound entries are written";
}

INSTANTIATE_TEST_SUITE_P(Pack, LzmaFault, testing::ValuesIn(FAULTS),
                         [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.label); });

} // namespace
