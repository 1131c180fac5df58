// The package reader: packages assembled from stub, archive A, archive B and
// trailer, read with the extraction loop; hostile names, damaged entries and
// unreadable packages.
#include "dataunzip.h"
#include "datazip.h"
#include "entrynamerows.h"
#include "filelist.h"
#include "harness.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <direct.h>

#include <cstring>
#include <map>
#include <ostream>

using namespace ziptest;

namespace {

bool samedir(std::string a, std::string b)
{
    while (!a.empty() && a.back() == '\\') a.pop_back();
    while (!b.empty() && b.back() == '\\') b.pop_back();
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

std::string stub() { return "MZ" + noise(5000, 3); }

// What one run of the extraction loop saw.
struct extraction {
    bool opened = false;
    std::string computedA, computedB, storedA, storedB;
    uint32_t filecount = 0;
    std::string cwdafteropen;
    std::vector<std::string> names; // of the entries read
    int32_t failedat = -1;          // index of the first failing step
    int32_t failure = ENTRY_OK;
    bool cwdtargetaftereachwrite = true;
    std::string output; // standard output during the open
};

// The worker's loop: read, write, advance; stops at the first -1.
extraction extract(const std::string& package, const std::string& target)
{
    extraction e;
    char computedA[64], computedB[64];
    memset(computedA, '?', sizeof computedA);
    memset(computedB, '?', sizeof computedB);
    dataunzip reader;
    stdoutcapture out;
    reader.unzipfopen(package.c_str(), computedA, computedB);
    e.output = out.finish();
    e.computedA.assign(computedA, 33);
    e.computedB.assign(computedB, 33);
    e.storedA.assign(reader.digestA, 32);
    e.storedB.assign(reader.digestB, 32);
    e.filecount = reader.filecount;
    e.cwdafteropen = cwd();
    for (uint32_t i = 0; i < reader.filecount; ++i) {
        char name[512];
        int32_t rc = reader.readcurfile(name);
        if (rc == 0) {
            e.names.push_back(name);
            rc = reader.filewrite(name, target.c_str());
            if (!samedir(cwd(), target)) e.cwdtargetaftereachwrite = false;
        }
        if (rc != 0) {
            e.failedat = int32_t(i);
            e.failure = reader.failure();
            break;
        }
        if (reader.gotonextfile(i) != 0) {
            e.failedat = int32_t(i);
            break;
        }
    }
    reader.closeunzipfile();
    return e;
}

// Zips tree (entry name -> content) below root with the system's writer.
std::string writearchive(const std::string& root, const char* top, const std::map<std::string, std::string>& tree)
{
    cwdguard guard;
    for (const auto& file : tree) writefile(root + "\\" + file.first, file.second);
    _chdir(root.c_str());
    std::string name = std::string(top) + ".zip";
    datazip archive(name.c_str());
    archive.zipfopen();
    filelist().GetAllFileInfoAndZip(top, archive);
    archive.closezipfile();
    return readfile(root + "\\" + name);
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = harness::narrow(harness::testscratchdir());
        workspace = root + "\\tmp\\";
        ASSERT_EQ(_mkdir((root + "\\tmp").c_str()), 0);
        ASSERT_EQ(_mkdir((root + "\\src").c_str()), 0);
        tmp.reset(new tmpguard(root + "\\tmp"));
        startdir = cwd();
    }
    void TearDown() override { tmp.reset(); }

    std::string writepackage(const std::string& bytes)
    {
        std::string path = root + "\\package.exe";
        EXPECT_TRUE(writefile(path, bytes));
        return path;
    }

    cwdguard guard;
    std::unique_ptr<tmpguard> tmp;
    std::string root, workspace, startdir;
};

std::map<std::string, std::string> setuptree()
{
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "setting " + std::to_string(i) + "\r\n";
    return {
        {"setup\\rEdizo.exe", "MZ" + noise(70000, 5)},
        {"setup\\config.xml", "<config><source path=\"\"/></config>"},
        {"setup\\empty.txt", ""},
        {"setup\\exact.bin", noise(16384, 9)},
        {"setup\\a\\b\\c.txt", text},
    };
}

std::map<std::string, std::string> apptree()
{
    return {{"app\\one.txt", "1"},        {"app\\two.txt", "22"},     {"app\\d\\three.bin", noise(3000, 1)},
            {"app\\d\\four.txt", "4444"}, {"app\\five.txt", "55555"}, {"app\\six.txt", "666666"}};
}

TEST_F(ReaderTest, PackageRoundTripsThroughWriterAndReader)
{
    auto tree = setuptree();
    std::string a = writearchive(root + "\\src", "setup", tree);
    std::string b = writearchive(root + "\\src", "app", apptree());
    ASSERT_GT(b.size(), a.size() / 100);
    std::string package = writepackage(makepackage(stub(), a, b));

    extraction e = extract(package, workspace);
    EXPECT_EQ(e.output, "find file end pos:-9.");
    EXPECT_EQ(e.computedA, regiondigest(a) + '\0');
    EXPECT_EQ(e.computedB, regiondigest(b) + '\0');
    EXPECT_EQ(e.storedA, regiondigest(a));
    EXPECT_EQ(e.storedB, regiondigest(b));
    EXPECT_EQ(e.filecount, tree.size()) << "archive A's entries, not archive B's";
    EXPECT_TRUE(samedir(e.cwdafteropen, workspace)) << e.cwdafteropen;
    EXPECT_EQ(e.failedat, -1) << "failure " << e.failure;
    EXPECT_TRUE(e.cwdtargetaftereachwrite);
    EXPECT_EQ(cwd(), startdir) << "close restores the directory";

    std::vector<std::string> expected;
    for (const auto& file : tree) {
        expected.push_back(file.first);
        EXPECT_EQ(readfile(workspace + file.first), file.second) << file.first;
    }
    EXPECT_EQ(treefiles(root + "\\tmp"), expected);
}

struct appendrow {
    const char* label;
    size_t extra;
};

std::ostream& operator<<(std::ostream& os, const appendrow& r) { return os << r.label; }

const appendrow APPEND_ROWS[] = {{"one_byte", 1}, {"one_hundred", 100}, {"beyond_a_chunk", 5000}};

class AppendedTest : public ReaderTest, public ::testing::WithParamInterface<appendrow> {};

TEST_P(AppendedTest, BytesAfterTheTrailerChangeNothing)
{
    auto tree = setuptree();
    std::string a = writearchive(root + "\\src", "setup", tree);
    std::string b = writearchive(root + "\\src", "app", apptree());
    std::string package = writepackage(makepackage(stub(), a, b) + std::string(GetParam().extra, 'x'));

    extraction e = extract(package, workspace);
    EXPECT_EQ(e.output, "find file end pos:" + std::to_string(-9 - int(GetParam().extra)) + ".");
    EXPECT_EQ(e.computedA, regiondigest(a) + '\0');
    EXPECT_EQ(e.computedB, regiondigest(b) + '\0');
    EXPECT_EQ(e.failedat, -1);
    EXPECT_EQ(e.names.size(), tree.size());
    for (const auto& file : tree) EXPECT_EQ(readfile(workspace + file.first), file.second) << file.first;
}

INSTANTIATE_TEST_SUITE_P(Extra, AppendedTest, ::testing::ValuesIn(APPEND_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ReaderTest, ArchiveBAloneIsNeverReadAsArchiveA)
{
    // Archive A has no end record of its own; archive B right behind it is a
    // valid archive. The reader must refuse rather than find B's end record.
    std::string b = writearchive(root + "\\src", "app", apptree());
    std::string a = noise(4000, 17);
    std::string package = writepackage(makepackage(stub(), a, b));
    extraction e = extract(package, workspace);
    EXPECT_EQ(e.filecount, 0u);
    EXPECT_EQ(e.computedA, std::string(33, '?')) << "buffers untouched";
    EXPECT_EQ(treefiles(root + "\\tmp"), std::vector<std::string>{});
    EXPECT_EQ(e.cwdafteropen, startdir);
}

TEST_F(ReaderTest, ExistingDirectoriesAndZeroLengthEntries)
{
    std::string a = makezip({{"setup\\a\\b\\c.txt", "nested"}, {"setup\\a\\zero.txt", ""}, {"setup\\zero2", ""}});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    ASSERT_EQ(_mkdir((workspace + "setup").c_str()), 0);
    ASSERT_EQ(_mkdir((workspace + "setup\\a").c_str()), 0);
    ASSERT_EQ(_mkdir((workspace + "setup\\a\\b").c_str()), 0);
    extraction e = extract(package, workspace);
    EXPECT_EQ(e.failedat, -1);
    EXPECT_TRUE(e.cwdtargetaftereachwrite);
    EXPECT_EQ(readfile(workspace + "setup\\a\\b\\c.txt"), "nested");
    EXPECT_TRUE(exists(workspace + "setup\\a\\zero.txt"));
    EXPECT_EQ(readfile(workspace + "setup\\a\\zero.txt"), "");
    EXPECT_TRUE(exists(workspace + "setup\\zero2"));
}

TEST_F(ReaderTest, EmptyArchiveAHasNoEntries)
{
    std::string empty = makezip({});
    ASSERT_EQ(empty.size(), 22u);
    std::string package = writepackage(makepackage(stub(), empty, empty));
    extraction e = extract(package, workspace);
    EXPECT_EQ(e.filecount, 0u);
    EXPECT_EQ(e.computedB, std::string("76cdb2bad9582d23c1f6f4d868218d6c") + '\0');
    EXPECT_TRUE(samedir(e.cwdafteropen, workspace));
    EXPECT_EQ(cwd(), startdir);
}

TEST_F(ReaderTest, AdvancingFromTheLastEntryStaysOnIt)
{
    std::string a = makezip({{"setup\\first.txt", "1"}, {"setup\\last.txt", "2"}});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    char da[64], db[64];
    dataunzip reader;
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.filecount, 2u);
    char name[512];
    EXPECT_EQ(reader.gotonextfile(0), 0);
    EXPECT_EQ(reader.readcurfile(name), 0);
    EXPECT_STREQ(name, "setup\\last.txt");
    EXPECT_EQ(reader.gotonextfile(1), 0);
    EXPECT_EQ(reader.readcurfile(name), 0);
    EXPECT_STREQ(name, "setup\\last.txt");
    EXPECT_EQ(reader.filewrite(name, workspace.c_str()), 0);
    EXPECT_EQ(readfile(workspace + "setup\\last.txt"), "2");
    // A write needs the entry a read just opened, under the same name.
    EXPECT_EQ(reader.filewrite(name, workspace.c_str()), -1);
    EXPECT_EQ(reader.failure(), ENTRY_NOT_OPEN);
    EXPECT_EQ(reader.readcurfile(name), 0);
    EXPECT_EQ(reader.filewrite("setup\\other.txt", workspace.c_str()), -1);
    EXPECT_FALSE(exists(workspace + "setup\\other.txt"));
    reader.closeunzipfile();
    EXPECT_EQ(cwd(), startdir);
}

TEST_F(ReaderTest, OutputThatCannotBeCreatedIsLoggedAndFails)
{
    std::string a = makezip({{"setup\\blocked.txt", "data"}});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    ASSERT_EQ(_mkdir((workspace + "setup").c_str()), 0);
    ASSERT_EQ(_mkdir((workspace + "setup\\blocked.txt").c_str()), 0);
    char da[64], db[64], name[512];
    dataunzip reader;
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.readcurfile(name), 0);
    stdoutcapture out;
    EXPECT_EQ(reader.filewrite(name, workspace.c_str()), -1);
    std::string log = out.finish();
    EXPECT_EQ(reader.failure(), ENTRY_CREATE_FAILED);
    EXPECT_NE(log.find(" dataunzip dataunzip::filewrite 231: fopen setup\\blocked.txt filename failed!\n"),
              std::string::npos)
        << log;
}

using entrynametest::NAME_ROWS;
using entrynametest::namerow;

class HostileNameTest : public ReaderTest, public ::testing::WithParamInterface<namerow> {};

TEST_P(HostileNameTest, UnsafeEntryWritesNothingAndFails)
{
    std::string a = makezip({{"setup\\ok.txt", "fine"}, {GetParam().name, "evil"}, {"setup\\later.txt", "later"}});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    // The target is two levels below the scratch root, so a climb shows.
    std::string target = workspace + "deep\\";
    ASSERT_EQ(_mkdir(target.c_str()), 0);
    extraction e = extract(package, target);
    EXPECT_EQ(e.filecount, 3u);
    EXPECT_EQ(e.failedat, 1);
    EXPECT_EQ(e.failure, ENTRY_UNSAFE_NAME);
    std::vector<std::string> expected = {"package.exe", "tmp\\deep\\setup\\ok.txt"};
    EXPECT_EQ(treefiles(root), expected);
    EXPECT_FALSE(exists("C:\\evil.txt"));
}

// The unsafe rows that an archive can carry (a name needs at least one byte),
// read in this test's single-byte code page.
std::vector<namerow> hostilerows()
{
    std::vector<namerow> rows;
    for (const namerow& row : NAME_ROWS)
        if (!row.safe && !row.doublebyte && !row.name.empty()) rows.push_back(row);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest, ::testing::ValuesIn(hostilerows()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ReaderTest, NameOfFiveHundredTwelveBytesIsRefusedTerminated)
{
    std::string longname = "setup\\" + std::string(300, 'a') + "\\" + std::string(300, 'b');
    std::string a = makezip({{longname, "x"}});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    char da[64], db[64], name[600];
    memset(name, 'z', sizeof name);
    dataunzip reader;
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.filecount, 1u);
    EXPECT_EQ(reader.readcurfile(name), -1);
    EXPECT_EQ(reader.failure(), ENTRY_UNSAFE_NAME);
    EXPECT_LT(strnlen(name, 512), 512u) << "the buffer is terminated";
    EXPECT_EQ(reader.filewrite(name, workspace.c_str()), -1);
    EXPECT_EQ(treefiles(root + "\\tmp"), std::vector<std::string>{});
}

struct damagerow {
    const char* label;
    handentry entry;
    int32_t readresult;
    int32_t failure;
};

std::ostream& operator<<(std::ostream& os, const damagerow& r) { return os << r.label; }

handentry damaged(int32_t crcdelta, std::string compressed, int32_t localnamedelta = 0, uint16_t flags = 2)
{
    handentry e;
    e.name = "setup\\victim.bin";
    e.data = noise(50000, 23);
    e.crcdelta = crcdelta;
    e.compressed = compressed;
    e.localnamedelta = localnamedelta;
    e.flags = flags;
    return e;
}

const damagerow DAMAGE_ROWS[] = {
    {"crc_mismatch", damaged(1, ""), 0, ENTRY_CRC_MISMATCH},
    {"invalid_block_type", damaged(0, std::string(200, '\xff')), 0, ENTRY_DATA_DAMAGED},
    {"truncated_stream", damaged(0, rawdeflate(noise(50000, 23)).substr(0, 20000)), 0, ENTRY_DATA_DAMAGED},
    {"stream_ends_early", damaged(0, rawdeflate(noise(30000, 23))), 0, ENTRY_SIZE_MISMATCH},
    {"local_name_length_differs", damaged(0, "", 1), -1, ENTRY_OPEN_FAILED},
    {"encrypted", damaged(0, "", 0, 3), -1, ENTRY_ENCRYPTED},
};

class DamageTest : public ReaderTest, public ::testing::WithParamInterface<damagerow> {};

TEST_P(DamageTest, DamagedEntryFailsAndLeavesNoFile)
{
    std::string a = makezip({{"setup\\before.txt", "ok"}, GetParam().entry});
    std::string package = writepackage(makepackage(stub(), a, makezip({})));
    // A file from an earlier run must not survive as if it were the entry.
    ASSERT_TRUE(writefile(workspace + "setup\\victim.bin", "stale"));
    char da[64], db[64], name[512];
    dataunzip reader;
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.filecount, 2u);
    ASSERT_EQ(reader.readcurfile(name), 0);
    ASSERT_EQ(reader.filewrite(name, workspace.c_str()), 0);
    ASSERT_EQ(reader.gotonextfile(0), 0);
    int32_t rc = reader.readcurfile(name);
    EXPECT_EQ(rc, GetParam().readresult);
    if (rc == 0) {
        EXPECT_EQ(reader.filewrite(name, workspace.c_str()), -1);
    }
    EXPECT_EQ(reader.failure(), GetParam().failure);
    reader.closeunzipfile();
    if (rc == 0) {
        EXPECT_FALSE(exists(workspace + "setup\\victim.bin"));
    }
    EXPECT_EQ(readfile(workspace + "setup\\before.txt"), "ok");
}

INSTANTIATE_TEST_SUITE_P(Entries, DamageTest, ::testing::ValuesIn(DAMAGE_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

struct packagerow {
    const char* label;
    std::string (*make)();
};

std::ostream& operator<<(std::ostream& os, const packagerow& r) { return os << r.label; }

std::string validpackage() { return makepackage(stub(), makezip({{"setup\\a.txt", "a"}}), makezip({})); }

const packagerow UNREADABLE_ROWS[] = {
    {"no_marker",
     [] {
         std::string p = validpackage();
         return p.substr(0, p.size() - 9);
     }},
    {"marker_without_zero",
     [] {
         std::string p = validpackage();
         p.back() = 'x';
         return p;
     }},
    {"offsets_reversed",
     [] {
         std::string p = validpackage();
         std::string offsetA = p.substr(p.size() - 81, 4);
         p.replace(p.size() - 81, 4, p.substr(p.size() - 45, 4));
         p.replace(p.size() - 45, 4, offsetA);
         return p;
     }},
    {"offsetB_beyond_trailer",
     [] {
         std::string p = validpackage();
         p.replace(p.size() - 45, 4, std::string("\xff\xff\xff\x7f", 4));
         return p;
     }},
    {"shorter_than_marker", [] { return std::string("<----end"); }},
    {"empty_file", [] { return std::string(); }},
};

class UnreadableTest : public ReaderTest, public ::testing::WithParamInterface<packagerow> {};

TEST_P(UnreadableTest, UnreadablePackageLeavesReaderClosed)
{
    std::string package = writepackage(GetParam().make());
    extraction e = extract(package, workspace);
    EXPECT_EQ(e.filecount, 0u);
    EXPECT_EQ(e.computedA, std::string(33, '?'));
    EXPECT_EQ(e.computedB, std::string(33, '?'));
    EXPECT_EQ(e.storedA, std::string(32, '\0'));
    EXPECT_EQ(e.cwdafteropen, startdir);
    EXPECT_EQ(cwd(), startdir);
    char name[512];
    dataunzip reader;
    EXPECT_EQ(reader.readcurfile(name), -1);
    EXPECT_EQ(reader.failure(), ENTRY_NOT_OPEN);
}

INSTANTIATE_TEST_SUITE_P(Packages, UnreadableTest, ::testing::ValuesIn(UNREADABLE_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ReaderTest, MissingPackageLeavesReaderClosed)
{
    extraction e = extract(root + "\\nothere.exe", workspace);
    EXPECT_EQ(e.filecount, 0u);
    EXPECT_EQ(e.computedA, std::string(33, '?'));
    EXPECT_EQ(e.output, "");
    EXPECT_EQ(cwd(), startdir);
}

} // namespace
