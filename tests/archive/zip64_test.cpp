// More entries than the classic end record can count: the writer adds the
// zip64 end record and locator, and the reader, behind a program stub, still
// reads every entry.
#include "dataunzip.h"
#include "datazip.h"
#include "filelist.h"
#include "harness.h"
#include "ziptestkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <direct.h>

#include <cstring>

using namespace ziptest;

namespace {

const int DIRECTORIES = 350;
const int FILES_PER_DIRECTORY = 200;
const uint32_t ENTRIES = DIRECTORIES * FILES_PER_DIRECTORY;

std::string entryname(int d, int f) { return "setup\\d" + std::to_string(d) + "\\f" + std::to_string(f); }

TEST(Zip64Test, SeventyThousandEntriesWriteAndReadBack)
{
    std::string root = harness::narrow(harness::scratchdir(L"Zip64Test"));
    cwdguard guard;
    ASSERT_EQ(_chdir(root.c_str()), 0);
    ASSERT_EQ(_mkdir("setup"), 0);
    for (int d = 0; d < DIRECTORIES; ++d) {
        ASSERT_EQ(_mkdir(("setup\\d" + std::to_string(d)).c_str()), 0);
        for (int f = 0; f < FILES_PER_DIRECTORY; ++f) {
            std::string name = entryname(d, f);
            HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
            DWORD wrote;
            WriteFile(h, name.data(), DWORD(name.size()), &wrote, nullptr);
            CloseHandle(h);
        }
    }

    datazip archive("qlib.zip");
    ASSERT_TRUE(archive.zipfopen());
    {
        // Two log lines per file would only slow the run down.
        stdoutcapture quiet;
        EXPECT_TRUE(filelist().GetAllFileInfoAndZip("setup", archive));
        ASSERT_TRUE(archive.closezipfile());
    }
    std::string a = readfile(root + "\\qlib.zip");
    parsedzip z = parsezip(a);
    ASSERT_EQ(z.fault, "");
    ASSERT_TRUE(z.zip64);
    EXPECT_EQ(z.zip64entries, ENTRIES);
    EXPECT_EQ(z.totalentries, 0xFFFF);
    EXPECT_EQ(z.diskentries, 0xFFFF);
    EXPECT_EQ(z.zip64cdoffset + z.zip64cdsize, z.zip64recordoffset) << "offsets count from the archive's first byte";
    EXPECT_EQ(z.zip64recordoffset + 56 + 20 + 22, a.size());
    EXPECT_EQ(z.central.size(), ENTRIES);

    // The stub in front moves the archive away from position 0 of the file.
    std::string package = root + "\\package.exe";
    ASSERT_TRUE(writefile(package, makepackage("MZ" + noise(40000, 2), a, makezip({}))));
    ASSERT_EQ(_mkdir((root + "\\tmp").c_str()), 0);
    tmpguard tmp(root + "\\tmp");
    std::string target = root + "\\tmp\\";

    char da[64], db[64];
    dataunzip reader;
    reader.unzipfopen(package.c_str(), da, db);
    ASSERT_EQ(reader.filecount, ENTRIES);
    uint32_t written = 0;
    for (uint32_t i = 0; i < reader.filecount; ++i) {
        char name[512];
        int32_t rc = reader.readcurfile(name);
        if (rc == 0) rc = reader.filewrite(name, target.c_str());
        ASSERT_EQ(rc, 0) << i << " " << name << " failure " << reader.failure();
        ++written;
        ASSERT_EQ(reader.gotonextfile(i), 0) << i;
    }
    reader.closeunzipfile();
    EXPECT_EQ(written, ENTRIES);
    for (int d : {0, 174, 349})
        for (int f : {0, 199}) EXPECT_EQ(readfile(target + entryname(d, f)), entryname(d, f));
    EXPECT_EQ(treefiles(target + "setup").size(), ENTRIES);
    // Removed here: the harness's own removal of 140000 files is far slower.
    {
        stdoutcapture quiet;
        filelist::deletepath(root + "\\setup");
        filelist::deletepath(root + "\\tmp");
    }
}

} // namespace
