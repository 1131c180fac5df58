// Inflating ahead on a second thread: entries come out in archive order and
// whole, within the budget of pieces; and a reader that inflates ahead leaves
// on disk exactly what one that does not would, above all after a failed entry.
#include "dataunzip.h"
#include "harness.h"
#include "inflateahead.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <direct.h>

#include <algorithm>
#include <memory>
#include <ostream>

using namespace ziptest;

namespace {

const size_t PIECE = 4096;

class AheadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = harness::narrow(harness::testscratchdir());
        ASSERT_EQ(_mkdir((root + "\\tmp").c_str()), 0);
        tmp.reset(new tmpguard(root + "\\tmp"));
    }
    void TearDown() override { tmp.reset(); }

    cwdguard guard;
    std::unique_ptr<tmpguard> tmp;
    std::string root;
};

// Entries around the piece size: empty, one byte short, exact, several pieces.
std::vector<handentry> sizedentries()
{
    std::vector<handentry> entries;
    const size_t sizes[] = {0, PIECE - 1, PIECE, 3 * PIECE + 17, 1, 40000};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i)
        entries.emplace_back("setup\\e" + std::to_string(i) + ".bin", noise(sizes[i], uint32_t(i + 1)));
    return entries;
}

TEST_F(AheadTest, EntriesComeWholeInArchiveOrderWithinTheBudget)
{
    std::vector<handentry> entries = sizedentries();
    std::string path = root + "\\a.zip";
    ASSERT_TRUE(writefile(path, makezip(entries)));
    unzFile archive = unzOpen64(path.c_str());
    ASSERT_NE(archive, nullptr);
    const size_t pieces = 3;
    std::vector<std::string> names, contents;
    size_t most = 0;
    {
        inflateahead ahead(archive, 0, uint32_t(entries.size()), PIECE, pieces);
        ASSERT_TRUE(ahead.started());
        while (const inflatedpiece* piece = ahead.next()) {
            ASSERT_EQ(piece->entry, names.size() - (piece->first ? 0 : 1)) << "pieces of one entry, in order";
            if (piece->first) {
                names.push_back(piece->name);
                contents.emplace_back();
            }
            EXPECT_LE(piece->length, PIECE);
            contents.back().append(piece->data, piece->length);
            if (piece->last) {
                EXPECT_EQ(piece->cause, ENTRY_OK) << names.back();
                EXPECT_EQ(piece->advanced, 0);
            }
            // A slow writer: the thread fills every piece meanwhile.
            Sleep(1);
            ahead.release();
        }
        most = ahead.mostheld();
    }
    unzClose(archive);
    ASSERT_EQ(names.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(names[i], entries[i].name);
        EXPECT_TRUE(contents[i] == entries[i].data) << entries[i].name;
    }
    EXPECT_GT(most, 0u);
    EXPECT_LE(most, pieces * PIECE) << "never more held than the pieces hold";
}

TEST_F(AheadTest, LargeEntryStreamsThroughTwoPieces)
{
    std::string text;
    for (int i = 0; text.size() < (2u << 20); ++i) text += "line " + std::to_string(i * 7919 % 100003) + "\r\n";
    std::string path = root + "\\big.zip";
    ASSERT_TRUE(writefile(path, makezip({{"setup\\big.txt", text}, {"setup\\after.txt", "after"}})));
    unzFile archive = unzOpen64(path.c_str());
    ASSERT_NE(archive, nullptr);
    std::string got;
    size_t most = 0, count = 0;
    {
        inflateahead ahead(archive, 0, 2, PIECE, 2);
        while (const inflatedpiece* piece = ahead.next()) {
            if (piece->entry == 0) got.append(piece->data, piece->length);
            ++count;
            ahead.release();
        }
        most = ahead.mostheld();
    }
    unzClose(archive);
    EXPECT_TRUE(got == text);
    EXPECT_GE(count, text.size() / PIECE);
    EXPECT_LE(most, 2 * PIECE);
}

TEST_F(AheadTest, StoppingMidEntryEndsTheThread)
{
    std::string path = root + "\\stop.zip";
    ASSERT_TRUE(writefile(path, makezip({{"setup\\a.bin", noise(100000, 4)}, {"setup\\b.bin", noise(100, 5)}})));
    unzFile archive = unzOpen64(path.c_str());
    ASSERT_NE(archive, nullptr);
    {
        inflateahead ahead(archive, 0, 2, PIECE, 2);
        const inflatedpiece* piece = ahead.next();
        ASSERT_NE(piece, nullptr);
        EXPECT_TRUE(piece->first);
        EXPECT_FALSE(piece->last);
        // The thread waits for a free piece; destroying the object must end it.
    }
    // The archive is usable again, with no entry left open.
    EXPECT_EQ(unzGoToFirstFile(archive), UNZ_OK);
    EXPECT_EQ(unzOpenCurrentFile(archive), UNZ_OK);
    EXPECT_EQ(unzCloseCurrentFile(archive), UNZ_OK);
    unzClose(archive);
}

// A package whose entry k carries a fault; the extraction loop of the worker
// must leave entries 0..k-1 complete and nothing of k or later, ahead or not.
struct faultrow {
    const char* label;
    size_t k;
    enum { CRC, TRUNCATED, UNSAFE_NAME, ENCRYPTED } fault;
    int32_t failure;
    size_t pieces; // read-ahead pieces, 0 none
};

std::ostream& operator<<(std::ostream& os, const faultrow& r) { return os << r.label; }

const faultrow FAULT_ROWS[] = {
    {"crc_first_ahead", 0, faultrow::CRC, ENTRY_CRC_MISMATCH, 2},
    {"crc_first_here", 0, faultrow::CRC, ENTRY_CRC_MISMATCH, 0},
    {"crc_middle_ahead", 2, faultrow::CRC, ENTRY_CRC_MISMATCH, 3},
    {"truncated_middle_ahead", 2, faultrow::TRUNCATED, ENTRY_DATA_DAMAGED, 2},
    {"truncated_middle_here", 2, faultrow::TRUNCATED, ENTRY_DATA_DAMAGED, 0},
    {"truncated_last_ahead", 4, faultrow::TRUNCATED, ENTRY_DATA_DAMAGED, 3},
    {"unsafe_name_ahead", 3, faultrow::UNSAFE_NAME, ENTRY_UNSAFE_NAME, 2},
    {"encrypted_ahead", 1, faultrow::ENCRYPTED, ENTRY_ENCRYPTED, 8},
};

class FaultTest : public AheadTest, public ::testing::WithParamInterface<faultrow> {};

TEST_P(FaultTest, FailedEntryLeavesEarlierEntriesCompleteAndNothingAfter)
{
    const faultrow& row = GetParam();
    std::vector<handentry> entries;
    for (size_t i = 0; i < 5; ++i) {
        // Larger than the budget: the fault shows after pieces were written.
        entries.emplace_back("setup\\d" + std::to_string(i) + "\\f" + std::to_string(i) + ".bin",
                             noise(5 * PIECE + i, uint32_t(40 + i)));
    }
    handentry& bad = entries[row.k];
    if (row.fault == faultrow::CRC) bad.crcdelta = 1;
    if (row.fault == faultrow::TRUNCATED) bad.compressed = rawdeflate(bad.data).substr(0, bad.data.size() / 2);
    if (row.fault == faultrow::UNSAFE_NAME) bad.name = "setup\\..\\f.bin";
    if (row.fault == faultrow::ENCRYPTED) bad.flags = 3;
    std::string package = root + "\\package.exe";
    ASSERT_TRUE(writefile(package, makepackage("MZ" + noise(3000, 2), makezip(entries), makezip({}))));
    std::string target = root + "\\tmp\\";
    // What an earlier run left under the failing entry's name must not pass for it.
    ASSERT_EQ(_mkdir((target + "setup").c_str()), 0);
    ASSERT_EQ(_mkdir((target + "setup\\d" + std::to_string(row.k)).c_str()), 0);
    std::string stale = "setup\\d" + std::to_string(row.k) + "\\f" + std::to_string(row.k) + ".bin";
    ASSERT_TRUE(writefile(target + stale, "stale"));

    char da[64], db[64], name[512];
    dataunzip reader;
    reader.setreadahead(row.pieces, PIECE);
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.filecount, 5u);
    size_t failedat = 5;
    for (uint32_t i = 0; i < reader.filecount; ++i) {
        int32_t rc = reader.readcurfile(name);
        if (rc == 0) rc = reader.filewrite(name, target.c_str());
        if (rc != 0 || reader.gotonextfile(i) != 0) {
            failedat = i;
            break;
        }
    }
    int32_t failure = reader.failure();
    reader.closeunzipfile();

    EXPECT_EQ(failedat, row.k);
    EXPECT_EQ(failure, row.failure);
    std::vector<std::string> expected;
    for (size_t i = 0; i < row.k; ++i) {
        expected.push_back(entries[i].name);
        EXPECT_TRUE(readfile(target + entries[i].name) == entries[i].data) << entries[i].name;
    }
    // A fault found before anything was written leaves the earlier file alone.
    if (row.fault == faultrow::UNSAFE_NAME || row.fault == faultrow::ENCRYPTED) expected.push_back(stale);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(treefiles(root + "\\tmp"), expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(FAULT_ROWS),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
