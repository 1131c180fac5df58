// The native packer's walk and archive writer against the Windows builder:
// fixtures/pack/buildertree.sh makes a tree, builder_setup.zip is the setup
// archive the builder wrote for it under Wine (makebuilderarchive.sh), and
// the packer must write the same bytes however many threads compress and
// however little memory they may hold. Then the walk's refusals, one row each.
#include "archivewriter.h"
#include "packwalk.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::string fixturedir() { return std::string(TEST_SOURCE_DIR) + "/fixtures/pack"; }

// A fresh directory for one test.
std::string scratch(const std::string& name)
{
    std::string dir = std::string(TEST_BINARY_DIR) + "/scratch/pack_" + name;
    std::string command = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    return dir;
}

std::string buildertree(const std::string& name)
{
    std::string dir = scratch(name);
    std::string command = "bash '" + fixturedir() + "/buildertree.sh' '" + dir + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    return dir;
}

struct WriterRow {
    const char* name;
    unsigned threads;
    uint64_t queue;
    uint64_t entry;
};

std::ostream& operator<<(std::ostream& os, const WriterRow& row) { return os << row.name; }

const WriterRow writerRows[] = {
    {"writer_alone", 0, ARCHIVE_QUEUE_LIMIT, ARCHIVE_ENTRY_MEMORY},
    {"one_thread", 1, ARCHIVE_QUEUE_LIMIT, ARCHIVE_ENTRY_MEMORY},
    {"four_threads", 4, ARCHIVE_QUEUE_LIMIT, ARCHIVE_ENTRY_MEMORY},
    // Every entry past 1 KiB continues in a temporary file, and the queue
    // admits one entry at a time.
    {"tight_memory_spills", 4, 1, 1024},
};

class BuilderArchive : public testing::TestWithParam<WriterRow> {};

TEST_P(BuilderArchive, SameBytesAsTheBuilder)
{
    const WriterRow& row = GetParam();
    std::string tree = buildertree(row.name);
    std::vector<packfile> files;
    std::string message;
    ASSERT_EQ(walktree(tree, "setup", 1252, files, message), WALK_OK) << message;
    std::string archive = tree + "/setup.zip";
    archivelimits limits;
    limits.queue = row.queue;
    limits.entry = row.entry;
    ASSERT_TRUE(writearchive(archive, tree, files, row.threads, message, limits)) << message;
    std::string expected = testfiles::readfile(fixturedir() + "/builder_setup.zip");
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(testfiles::readfile(archive) == expected) << "the archive differs from the builder's";
}

INSTANTIATE_TEST_SUITE_P(Pack, BuilderArchive, testing::ValuesIn(writerRows),
                         [](const testing::TestParamInfo<WriterRow>& info) { return std::string(info.param.name); });

TEST(PackWalk, OrderAndNamesAsTheBuilderWalks)
{
    std::string tree = buildertree("order");
    std::vector<packfile> files;
    std::string message;
    ASSERT_EQ(walktree(tree, "setup", 1252, files, message), WALK_OK) << message;
    // Uppercased UTF-16 order; "Café" in code page 1252; no empty directory.
    const char* expected[] = {
        "setup\\Caf\xe9.txt",    "setup\\config.xml",
        "setup\\empty.txt",      "setup\\Sub\\deeper\\numbers.txt",
        "setup\\Sub\\piece.bin", "setup\\Sub\\piece_and_one.bin",
        "setup\\sub2\\10",       "setup\\sub2\\9",
        "setup\\sub2\\a.b",      "setup\\sub2\\aa",
        "setup\\sub2\\Alpha",    "setup\\sub2\\beta",
        "setup\\sub2\\Beta2",    "setup\\sub2\\zeta",
        "setup\\sub2\\_under",
    };
    ASSERT_EQ(files.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i].name, expected[i]) << "entry " << i;
}

TEST(PackWalk, MissingTreeAddsNothing)
{
    std::string tree = scratch("missing");
    std::vector<packfile> files;
    std::string message;
    EXPECT_EQ(walktree(tree, "app", 1252, files, message), WALK_OK);
    EXPECT_TRUE(files.empty());
}

// One fault per row, made below setup/ by a shell command; the walk refuses
// with a message naming the file.
struct RefusalRow {
    const char* name;
    const char* make; // run in the tree's directory
    int codepage;
    int expected;
    const char* named; // in the message
};

std::ostream& operator<<(std::ostream& os, const RefusalRow& row) { return os << row.name; }

const RefusalRow refusalRows[] = {
    {"file_of_2_gib", "truncate -s 2G setup/huge.bin", 1252, WALK_REFUSED, "setup/huge.bin: is 2 GiB or larger"},
    {"file_just_below_2_gib_is_taken", "truncate -s 2147483647 setup/large.bin", 1252, WALK_OK, ""},
    {"link_to_an_ancestor", "mkdir -p setup/a && ln -s .. setup/a/up", 1252, WALK_REFUSED,
     "setup/a/up: leads back to setup"},
    {"link_to_itself", "ln -s self setup/self", 1252, WALK_REFUSED, "setup/self:"},
    {"dangling_link", "ln -s nowhere setup/dangling", 1252, WALK_REFUSED, "setup/dangling: No such file"},
    {"fifo", "mkfifo setup/pipe", 1252, WALK_REFUSED, "setup/pipe: is neither a file nor a directory"},
    {"name_outside_the_code_page", "touch setup/日本.txt", 1252, WALK_CODEPAGE, "setup/日本.txt: code page 1252"},
    {"name_inside_code_page_936", "touch setup/日本.txt", 936, WALK_OK, ""},
    {"name_windows_cannot_hold", "touch 'setup/a:b'", 1252, WALK_REFUSED, "setup/a:b: has a character"},
    {"name_not_utf8", "touch \"setup/$(printf '\\377')x\"", 1252, WALK_REFUSED, "is not named in UTF-8"},
    {"names_differing_only_in_case", "echo y >setup/PLAIN.txt", 1252, WALK_REFUSED,
     "setup/plain.txt: differs only in case from setup/PLAIN.txt"},
    {"directories_differing_only_in_case", "mkdir -p setup/Dir/a setup/dir/b", 1252, WALK_REFUSED,
     "setup/dir: differs only in case from setup/Dir"},
    {"accented_names_differing_only_in_case", "touch setup/é.txt setup/É.txt", 1252, WALK_REFUSED,
     "setup/é.txt: differs only in case from setup/É.txt"},
};

class WalkRefusal : public testing::TestWithParam<RefusalRow> {};

TEST_P(WalkRefusal, RefusedNamingTheFile)
{
    const RefusalRow& row = GetParam();
    std::string tree = scratch(std::string("refusal_") + row.name);
    std::string command = "cd '" + tree + "' && mkdir -p setup && echo x >setup/plain.txt && " + row.make;
    ASSERT_EQ(system(command.c_str()), 0);
    std::vector<packfile> files;
    std::string message;
    EXPECT_EQ(walktree(tree, "setup", row.codepage, files, message), row.expected) << message;
    if (row.expected != WALK_OK) {
        EXPECT_NE(message.find(row.named), std::string::npos) << message;
    }
    std::string cleanup = "rm -rf '" + tree + "'";
    EXPECT_EQ(system(cleanup.c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(Pack, WalkRefusal, testing::ValuesIn(refusalRows),
                         [](const testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

TEST(PackWalk, UnreadableFileRefused)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    std::string tree = scratch("unreadable");
    ASSERT_EQ(system(("cd '" + tree + "' && mkdir setup && echo x >setup/secret && chmod 000 setup/secret").c_str()),
              0);
    std::vector<packfile> files;
    std::string message;
    EXPECT_EQ(walktree(tree, "setup", 1252, files, message), WALK_REFUSED);
    EXPECT_NE(message.find("setup/secret"), std::string::npos) << message;
}

} // namespace
