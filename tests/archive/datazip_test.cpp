// The archive writer and the tree walker: archive bytes checked field by
// field with the kit's own parser, log lines, failures and tree deletion.
#include "datazip.h"
#include "deflateahead.h"
#include "filelist.h"
#include "harness.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <direct.h>

#include <map>
#include <ostream>

using namespace ziptest;

namespace {

std::string textdata()
{
    std::string s;
    for (int i = 0; i < 200; ++i) s += "line " + std::to_string(i) + " of a plain text file\r\n";
    return s;
}

// The tree every writer test zips, by entry name.
std::map<std::string, std::string> sampletree()
{
    return {
        {"setup\\readme.txt", textdata()},      {"setup\\bin\\blob.dat", noise(20000, 7)}, {"setup\\empty.txt", ""},
        {"setup\\exact.bin", noise(16384, 11)}, {"setup\\sub\\deep\\c.txt", "hello"},
    };
}

void writetree(const std::string& root, const std::map<std::string, std::string>& tree)
{
    for (const auto& file : tree) ASSERT_TRUE(writefile(root + "\\" + file.first, file.second)) << file.first;
}

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = harness::narrow(harness::testscratchdir());
        ASSERT_EQ(_chdir(root.c_str()), 0);
    }
    cwdguard guard;
    std::string root;
};

TEST_F(WriterTest, TreeBecomesArchiveOfTheDocumentedShape)
{
    auto tree = sampletree();
    writetree(root, tree);
    ASSERT_EQ(_mkdir((root + "\\setup\\emptydir").c_str()), 0);

    datazip archive("qlib.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_TRUE(filelist().GetAllFileInfoAndZip("setup", archive));
    EXPECT_TRUE(archive.closezipfile());
    std::string log = out.finish();
    EXPECT_EQ(log.find("error"), std::string::npos) << log;
    EXPECT_EQ(log.find("err in"), std::string::npos) << log;

    std::string bytes = readfile(root + "\\qlib.zip");
    parsedzip z = parsezip(bytes);
    ASSERT_EQ(z.fault, "");
    EXPECT_FALSE(z.zip64);
    EXPECT_EQ(z.disk, 0);
    EXPECT_EQ(z.cddisk, 0);
    EXPECT_EQ(z.diskentries, tree.size());
    EXPECT_EQ(z.totalentries, tree.size());
    EXPECT_EQ(z.commentlength, 0);
    EXPECT_EQ(uint64_t(z.cdoffset) + z.cdsize, bytes.size() - 22);
    ASSERT_EQ(z.central.size(), tree.size());

    uint32_t expectedoffset = 0;
    std::map<std::string, size_t> position;
    for (size_t i = 0; i < z.central.size(); ++i) {
        const centralrecord& c = z.central[i];
        const localrecord& l = z.local[i];
        SCOPED_TRACE(c.name);
        ASSERT_EQ(tree.count(c.name), 1u);
        position[c.name] = i;
        const std::string& content = tree[c.name];
        EXPECT_EQ(c.madeby, 0);
        EXPECT_EQ(c.needed, 20);
        EXPECT_EQ(c.flags, 0x0002);
        EXPECT_EQ(c.method, 8);
        EXPECT_EQ(c.time, 0);
        EXPECT_EQ(c.date, 0x0020);
        EXPECT_EQ(c.crc, crc(content));
        EXPECT_EQ(c.uncompressed, content.size());
        EXPECT_EQ(c.extralength, 0);
        EXPECT_EQ(c.commentlength, 0);
        EXPECT_EQ(c.disk, 0);
        EXPECT_EQ(c.external, 0u);
        EXPECT_EQ(c.localoffset, expectedoffset);

        EXPECT_EQ(l.needed, 20);
        EXPECT_EQ(l.flags, 0x0002);
        EXPECT_EQ(l.method, 8);
        EXPECT_EQ(l.time, 0);
        EXPECT_EQ(l.date, 0x0020);
        EXPECT_EQ(l.crc, c.crc);
        EXPECT_EQ(l.compressed, c.compressed);
        EXPECT_EQ(l.uncompressed, c.uncompressed);
        EXPECT_EQ(l.namelength, c.namelength);
        EXPECT_EQ(l.extralength, 0);
        EXPECT_EQ(l.name, c.name);
        std::string inflated;
        EXPECT_TRUE(rawinflate(l.data, inflated));
        EXPECT_EQ(inflated, content);
        expectedoffset += 30 + l.namelength + l.compressed;
    }
    EXPECT_EQ(z.cdoffset, expectedoffset);
    EXPECT_EQ(z.central[position["setup\\readme.txt"]].internal, 1) << "text as deflate classed it";
    EXPECT_EQ(z.central[position["setup\\bin\\blob.dat"]].internal, 0);
    // A subdirectory's files stand together, where the subdirectory stands.
    EXPECT_EQ(position.count("setup\\emptydir"), 0u);
}

TEST_F(WriterTest, MissingDirectoryGivesTheEmptyArchive)
{
    datazip archive("empty.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_FALSE(filelist().GetAllFileInfoAndZip("nothere", archive));
    EXPECT_TRUE(archive.closezipfile());
    std::string log = out.finish();
    EXPECT_NE(log.find(" filelist filelist::GetAllFileInfoAndZip 29: Cannot get handle for file nothere\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" datazip datazip::closezipfile 91: zipfile empty.zip is closed\n"), std::string::npos) << log;
    EXPECT_EQ(readfile(root + "\\empty.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST_F(WriterTest, WalkLogsEveryPathAndEachFileSize)
{
    writetree(root, {{"setup\\a.txt", "12345"}, {"setup\\d\\b.txt", "x"}});
    datazip archive("qlib.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_TRUE(filelist().GetAllFileInfoAndZip("setup", archive));
    EXPECT_TRUE(archive.closezipfile());
    std::string log = out.finish();
    for (const char* line : {" datazip datazip::isLargeFile 104: File : setup\\a.txt is 5 bytes\n",
                             " filelist filelist::GetAllFileInfoAndZip 42: setup\\a.txt\n",
                             " filelist filelist::GetAllFileInfoAndZip 42: setup\\d\\b.txt\n",
                             " filelist filelist::GetAllFileInfoAndZip 42: setup\\d\\\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
    // The line starts with the local time "YYYY-MM-DD HH:MM:SS".
    size_t at = log.find(" datazip datazip::isLargeFile 104:");
    ASSERT_GE(at, 19u);
    std::string stamp = log.substr(at - 19, 19);
    EXPECT_TRUE(stamp[4] == '-' && stamp[7] == '-' && stamp[10] == ' ' && stamp[13] == ':' && stamp[16] == ':')
        << stamp;
}

struct separatorrow {
    const char* label;
    const char* path;
    const char* entry; // null: no entry
};

std::ostream& operator<<(std::ostream& os, const separatorrow& r) { return os << r.label; }

const separatorrow SEPARATOR_ROWS[] = {
    {"plain", "setup\\a.txt", "setup\\a.txt"},       {"one_backslash", "\\setup\\a.txt", "setup\\a.txt"},
    {"slashes", "//setup\\a.txt", "setup\\a.txt"},   {"mixed_run", "\\/\\/setup\\a.txt", "setup\\a.txt"},
    {"trailing_backslash", "setup\\sub\\", nullptr}, {"trailing_slash", "setup\\sub/", nullptr},
};

class SeparatorTest : public WriterTest, public ::testing::WithParamInterface<separatorrow> {};

TEST_P(SeparatorTest, LeadingSeparatorsAreDroppedAndDirectoriesAddNothing)
{
    writetree(root, {{"setup\\a.txt", "alpha"}, {"setup\\sub\\b.txt", "beta"}});
    datazip archive("qlib.zip");
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_TRUE(archive.putfileinzip(GetParam().path));
    ASSERT_TRUE(archive.closezipfile());
    parsedzip z = parsezip(readfile(root + "\\qlib.zip"));
    ASSERT_EQ(z.fault, "");
    if (!GetParam().entry) {
        EXPECT_EQ(z.entries, 0u);
        return;
    }
    ASSERT_EQ(z.entries, 1u);
    EXPECT_EQ(z.central[0].name, GetParam().entry);
    EXPECT_EQ(z.local[0].name, GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(Paths, SeparatorTest, ::testing::ValuesIn(SEPARATOR_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(WriterTest, WalkStopsAtALinkBackIntoTheTree)
{
    writetree(root, {{"setup\\a.txt", "a"}, {"setup\\d\\b.txt", "b"}});
    const std::wstring link = harness::widen(root) + L"\\setup\\d\\up";
    const bool made = harness::makeunixlink("..", link);
    struct unlink {
        std::wstring path;
        ~unlink() { harness::removeunixlink(path); }
    } guard{link};
    ASSERT_TRUE(made);

    std::vector<treestep> steps = filelist::listtree("setup");
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back().kind, treestep::LOOP);
    EXPECT_EQ(steps.back().path, "setup\\d\\up");
    EXPECT_EQ(steps.back().again, "setup");

    datazip archive("qlib.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_FALSE(filelist().GetAllFileInfoAndZip("setup", archive));
    EXPECT_TRUE(archive.closezipfile());
    std::string log = out.finish();
    EXPECT_NE(log.find(" filelist filelist::GetAllFileInfoAndZip 31: setup\\d\\up leads back to setup: not packed\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("setup\\d\\up\\"), std::string::npos) << "nothing below the link is packed\n" << log;
}

TEST_F(WriterTest, WalkLeavesOutANameDifferingOnlyInCase)
{
    writetree(root, {{"setup\\Alpha.txt", "a"}, {"setup\\d\\b.txt", "b"}});
    // A second name for the file in a case-sensitive directory.
    const std::wstring link = harness::widen(root) + L"\\setup\\ALPHA.TXT";
    const bool made = harness::makeunixlink("Alpha.txt", link);
    struct unlink {
        std::wstring path;
        ~unlink() { harness::removeunixlink(path); }
    } guard{link};
    ASSERT_TRUE(made);

    std::vector<std::string> twins;
    for (const treestep& step : filelist::listtree("setup"))
        if (step.kind == treestep::CASE_TWIN) twins.push_back(step.path + " " + step.again);
    ASSERT_EQ(twins.size(), 1u);
    EXPECT_TRUE(twins[0] == "setup\\ALPHA.TXT setup\\Alpha.txt" || twins[0] == "setup\\Alpha.txt setup\\ALPHA.TXT")
        << twins[0];

    datazip archive("qlib.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_FALSE(filelist().GetAllFileInfoAndZip("setup", archive));
    EXPECT_TRUE(archive.closezipfile());
    std::string log = out.finish();
    EXPECT_NE(log.find(" filelist filelist::GetAllFileInfoAndZip 33: " + twins[0].substr(0, twins[0].find(' ')) +
                       " differs only in case from "),
              std::string::npos)
        << log;
    parsedzip z = parsezip(readfile(root + "\\qlib.zip"));
    ASSERT_EQ(z.fault, "");
    EXPECT_EQ(z.entries, 2u) << "one entry for the file, one for d\\b.txt";
}

TEST_F(WriterTest, UnreadableSourceFailsAndLeavesNoEntry)
{
    writetree(root, {{"setup\\a.txt", "alpha"}, {"setup\\locked.txt", "secret"}});
    // No sharing: the writer's fopen of this file must fail.
    HANDLE lock =
        CreateFileA((root + "\\setup\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    datazip archive("qlib.zip");
    stdoutcapture out;
    ASSERT_TRUE(archive.zipfopen());
    EXPECT_FALSE(archive.putfileinzip("setup\\missing.txt"));
    EXPECT_EQ(archive.errorcode(), -1);
    EXPECT_FALSE(archive.putfileinzip("setup\\locked.txt"));
    EXPECT_TRUE(archive.putfileinzip("setup\\a.txt"));
    EXPECT_FALSE(filelist().GetAllFileInfoAndZip("setup", archive)) << "the walk reports the file it could not add";
    EXPECT_TRUE(archive.closezipfile());
    CloseHandle(lock);
    std::string log = out.finish();
    EXPECT_NE(log.find(" datazip datazip::putfileinzip 50: error in opening setup\\missing.txt\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find(" datazip datazip::putfileinzip 50: error in opening setup\\locked.txt\n"), std::string::npos)
        << log;
    parsedzip z = parsezip(readfile(root + "\\qlib.zip"));
    ASSERT_EQ(z.fault, "");
    ASSERT_EQ(z.entries, 2u);
    EXPECT_EQ(z.central[0].name, "setup\\a.txt");
    EXPECT_EQ(z.central[1].name, "setup\\a.txt");
}

TEST_F(WriterTest, ArchiveThatCannotBeCreatedFailsEveryStep)
{
    writetree(root, {{"setup\\a.txt", "alpha"}});
    datazip archive;
    archive.setfilename("nodir\\qlib.zip");
    stdoutcapture out;
    EXPECT_FALSE(archive.zipfopen());
    EXPECT_EQ(archive.errorcode(), -1);
    EXPECT_FALSE(archive.putfileinzip("setup\\a.txt"));
    EXPECT_FALSE(archive.closezipfile());
    std::string log = out.finish();
    for (const char* line : {" datazip datazip::zipfopen 16: Error opening nodir\\qlib.zip\n",
                             " datazip datazip::putfileinzip 46: err in opening setup\\a.txt in zipfile\n",
                             " datazip datazip::closezipfile 88: error in closing nodir\\qlib.zip\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
}

TEST_F(WriterTest, OneObjectWritesSeveralArchivesInTurn)
{
    writetree(root, {{"setup\\a.txt", "alpha"}, {"app\\b.txt", "beta"}});
    datazip archive;
    for (const char* name : {"one.zip", "two.zip"}) {
        archive.setfilename(name);
        ASSERT_TRUE(archive.zipfopen());
        EXPECT_TRUE(filelist().GetAllFileInfoAndZip(name[0] == 'o' ? "setup" : "app", archive));
        ASSERT_TRUE(archive.closezipfile());
    }
    parsedzip one = parsezip(readfile(root + "\\one.zip"));
    parsedzip two = parsezip(readfile(root + "\\two.zip"));
    ASSERT_EQ(one.entries, 1u);
    ASSERT_EQ(two.entries, 1u);
    EXPECT_EQ(one.central[0].name, "setup\\a.txt");
    EXPECT_EQ(two.central[0].name, "app\\b.txt");
    EXPECT_EQ(two.central[0].localoffset, 0u) << "each archive counts from its own first byte";
}

struct sizerow {
    const char* label;
    long long size;
    int large;
};

std::ostream& operator<<(std::ostream& os, const sizerow& r) { return os << r.label; }

const sizerow SIZE_ROWS[] = {
    {"empty", 0, 0},
    {"small", 5, 0},
    {"largest_position", 0x7FFFFFFFll, 0},
    {"two_gib", 0x80000000ll, 1},
    {"four_gib", 0x100000000ll, 1},
};

class LargeFileTest : public WriterTest, public ::testing::WithParamInterface<sizerow> {};

TEST_P(LargeFileTest, SizeBeyondSigned32BitsIsLarge)
{
    // Sparse files: the size is set, nothing is written.
    std::string path = root + "\\sized.bin";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = GetParam().size;
    ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    stdoutcapture out;
    EXPECT_EQ(datazip::isLargeFile(path.c_str()), GetParam().large);
    std::string log = out.finish();
    EXPECT_NE(log.find(" datazip datazip::isLargeFile 104: File : " + path + " is " + std::to_string(GetParam().size) +
                       " bytes\n"),
              std::string::npos)
        << log;
    DeleteFileA(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeFileTest, ::testing::ValuesIn(SIZE_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(WriterTest, LargeFileOfAMissingPathIsZeroWithoutALine)
{
    stdoutcapture out;
    EXPECT_EQ(datazip::isLargeFile("nothere.bin"), 0);
    EXPECT_EQ(out.finish(), "");
}

TEST_F(WriterTest, DeletePathKeepsReadOnlyFileAndItsAncestors)
{
    writetree(root,
              {{"t\\a.txt", "a"}, {"t\\gone\\x\\y.txt", "y"}, {"t\\keep\\ro.txt", "ro"}, {"t\\keep\\z.txt", "z"}});
    ASSERT_EQ(_mkdir((root + "\\t\\emptydir").c_str()), 0);
    ASSERT_TRUE(SetFileAttributesA((root + "\\t\\keep\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    stdoutcapture out;
    EXPECT_TRUE(filelist::deletepath(root + "\\t"));
    std::string log = out.finish();
    EXPECT_NE(log.find(" filelist filelist::deletepath 85: path name is <" + root + "\\t>\n"), std::string::npos)
        << log;
    EXPECT_EQ(treefiles(root + "\\t"), std::vector<std::string>{"keep\\ro.txt"});
    EXPECT_FALSE(exists(root + "\\t\\gone"));
    EXPECT_FALSE(exists(root + "\\t\\emptydir"));

    SetFileAttributesA((root + "\\t\\keep\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(filelist::deletepath(root + "\\t"));
    EXPECT_FALSE(exists(root + "\\t"));
}

TEST_F(WriterTest, DeletePathOfAMissingDirectoryFails)
{
    stdoutcapture out;
    EXPECT_FALSE(filelist::deletepath(root + "\\nothere"));
    std::string log = out.finish();
    EXPECT_NE(log.find(" filelist filelist::deletepath 87: Cannot get handle for file " + root + "\\nothere\\*\n"),
              std::string::npos)
        << log;
}

} // namespace

namespace {

// Files are compressed ahead on a second thread (small ones in memory, large
// ones streamed by the writer): the archive must be the one the writer makes
// alone, entry by entry in walk order, byte for byte.
TEST_F(WriterTest, CompressingAheadGivesTheSameArchive)
{
    auto tree = sampletree();
    for (int i = 0; i < 40; ++i) tree["setup\\many\\f" + std::to_string(i) + ".txt"] = textdata() + std::to_string(i);
    // One byte past the in-memory limit: the writer streams this one itself.
    tree["setup\\large\\big.bin"] = noise(size_t(DEFLATEAHEAD_FILE_LIMIT) + 1, 3);
    tree["setup\\large\\after.txt"] = textdata();
    writetree(root, tree);

    datazip walked;
    walked.setfilename("walked.zip");
    ASSERT_TRUE(walked.zipfopen());
    ASSERT_TRUE(filelist().GetAllFileInfoAndZip("setup", walked));
    ASSERT_TRUE(walked.closezipfile());
    parsedzip archive = parsezip(readfile("walked.zip"));
    ASSERT_EQ(archive.fault, "");
    ASSERT_EQ(archive.central.size(), tree.size());

    datazip alone;
    alone.setfilename("alone.zip");
    ASSERT_TRUE(alone.zipfopen());
    for (const auto& entry : archive.central) ASSERT_TRUE(alone.putfileinzip(entry.name.c_str())) << entry.name;
    ASSERT_TRUE(alone.closezipfile());
    EXPECT_TRUE(readfile("walked.zip") == readfile("alone.zip"));
    bool sawtext = false, sawbinary = false;
    for (const auto& entry : archive.central) (entry.internal ? sawtext : sawbinary) = true;
    EXPECT_TRUE(sawtext && sawbinary) << "both classifications are compared";
}

} // namespace

namespace {

// The second thread itself: every file it takes is the raw deflate stream of
// the file's bytes with their CRC-32, size and classification; items that
// are no files, and files past the in-memory limit, are left to the caller.
TEST_F(WriterTest, DeflateAheadHandsOutWholeFiles)
{
    std::map<std::string, std::string> tree = {
        {"setup\\a.txt", textdata()},
        {"setup\\b.bin", noise(70000, 5)},
        {"setup\\empty.txt", ""},
        {"setup\\big.bin", noise(size_t(DEFLATEAHEAD_FILE_LIMIT) + 1, 9)},
    };
    writetree(root, tree);
    std::vector<std::string> paths = {"setup\\a.txt",      "", "\\setup\\b.bin", "setup\\empty.txt", "setup\\big.bin",
                                      "setup\\missing.txt"};
    // b.bin has grown and empty.txt has shrunk since they were listed: each
    // is read as it is now.
    std::vector<uint64_t> sizes = {tree["setup\\a.txt"].size(), 0, 100, 50, DEFLATEAHEAD_FILE_LIMIT + 1, 10};
    deflateahead ahead(paths, sizes);
    for (size_t i = 0; i < paths.size(); ++i) {
        deflatedfile file;
        bool taken = ahead.take(i, file);
        bool expected = !paths[i].empty() && i != 4 && i != 5;
        ASSERT_EQ(taken, expected) << paths[i];
        if (!taken) continue;
        std::string name = paths[i][0] == '\\' ? paths[i].substr(1) : paths[i];
        std::string inflated;
        ASSERT_TRUE(rawinflate(file.data, inflated)) << name;
        EXPECT_EQ(inflated, tree[name]) << name;
        EXPECT_EQ(file.crc, crc(tree[name])) << name;
        EXPECT_EQ(file.size, tree[name].size()) << name;
        EXPECT_EQ(file.text, name == "setup\\a.txt") << name;
    }
}

} // namespace

namespace {

// The order in which files are compressed ahead: large files (at least
// 1/128 of all the bytes) first, largest first, as far as three quarters of
// the queue hold them; everything else in walk order. Items that are no
// files or exceed the in-memory limit are not compressed ahead at all.
struct orderrow {
    const char* name;
    std::vector<uint64_t> sizes; // 0 with an empty path: no file
    std::vector<size_t> order;
};

const uint64_t MIB = 1u << 20;

const orderrow ORDER_ROWS[] = {
    {"EvenSizesInWalkOrder", {10, 10, 10}, {0, 1, 2}},
    {"LargeFilesAtTheEndComeFirst", {1000, 1000, 1000, 1000, 200000, 300000}, {5, 4, 0, 1, 2, 3}},
    {"EqualLargeFilesKeepWalkOrder", {5000, 1, 5000, 1, 5000}, {0, 2, 4, 1, 3}},
    {"NoFilesAndFilesPastTheLimitAreLeftOut", {0, 10, DEFLATEAHEAD_FILE_LIMIT + 1, 10}, {1, 3}},
    // Three 30 MiB files exceed three quarters of 96 MiB: the third waits
    // for its place in the walk.
    {"LargeFilesFirstOnlyAsFarAsTheQueueHoldsThem", {1, 30 * MIB, 1, 30 * MIB, 30 * MIB - 1}, {1, 3, 0, 2, 4}},
    {"EmptyWalk", {}, {}},
};

class DeflateOrderTest : public ::testing::TestWithParam<orderrow> {};

TEST_P(DeflateOrderTest, LargeFilesFirstThenWalkOrder)
{
    const orderrow& row = GetParam();
    std::vector<std::string> paths;
    for (size_t i = 0; i < row.sizes.size(); ++i)
        paths.push_back(row.sizes[i] == 0 ? std::string() : "setup\\f" + std::to_string(i));
    EXPECT_EQ(deflateorder(paths, row.sizes), row.order);
}

INSTANTIATE_TEST_SUITE_P(Walks, DeflateOrderTest, ::testing::ValuesIn(ORDER_ROWS),
                         [](const ::testing::TestParamInfo<orderrow>& info) { return std::string(info.param.name); });

} // namespace
