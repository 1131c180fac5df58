// Builder mode end to end: the real bare program under Wine packs the setup
// and app trees of its working directory into install_test.exe. Each test
// has its own working directory and its own TMP (where the archives go).
#include "bytes.h"
#include "handles.h"
#include "harness.h"
#include "iconreplace.h"
#include "md5digest.h"
#include "packagetrailer.h"
#include "peresources.h"
#include "testnoise.h"
#include "testpackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Files = std::vector<std::pair<std::string, std::string>>; // relative path, content

const WORD ENGLISH_US = 1033;

std::wstring fixture(const char* name)
{
    return harness::testsourcedir() + L"\\fixtures\\icons\\" + harness::widen(name);
}

// A working directory with the bare program, its own TMP and the given files.
struct workdir {
    std::wstring dir;
    std::wstring tmp;

    explicit workdir(const std::wstring& name, const Files& files = Files())
        : dir(harness::scratchdir(name)), tmp(dir + L"\\tmp")
    {
        CreateDirectoryW(tmp.c_str(), nullptr);
        harness::copywithsize(harness::bootstrapexe(), dir + L"\\bootstrap.exe", 0);
        for (const auto& file : files) add(file.first, file.second);
    }

    void add(const std::string& relative, const std::string& content) const
    {
        std::wstring path = dir + L"\\" + harness::widen(relative);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        for (size_t at = path.find(L'\\', dir.size() + 1); at != std::wstring::npos; at = path.find(L'\\', at + 1))
            CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        testfiles::writefile(path, content);
    }

    harness::runresult build() const
    {
        harness::runoptions options;
        options.workdir = dir;
        options.env = {{L"TMP", tmp}, {L"TEMP", tmp}};
        options.watchwarnings = true;
        return harness::run(L"\"" + dir + L"\\bootstrap.exe\"", options);
    }

    std::wstring package() const { return dir + L"\\install_test.exe"; }
    std::string archiveA() const { return testfiles::readfile(tmp + L"\\qlib.zip"); }
    std::string archiveB() const { return testfiles::readfile(tmp + L"\\test.zip"); }
};

bool hastrailer(const std::string& package)
{
    return package.size() >= size_t(TRAILER_SIZE) &&
           package.compare(package.size() - TRAILER_MARKER_SIZE, TRAILER_MARKER_SIZE,
                           std::string(TRAILER_MARKER, TRAILER_MARKER_SIZE)) == 0;
}

PackageTrailer trailerof(const std::string& package)
{
    PackageTrailer trailer = {};
    EXPECT_GE(package.size(), size_t(TRAILER_SIZE));
    if (package.size() < size_t(TRAILER_SIZE)) return trailer;
    const auto* end = reinterpret_cast<const unsigned char*>(package.data() + package.size() - TRAILER_SIZE);
    EXPECT_TRUE(decodetrailer(end, trailer));
    return trailer;
}

std::string digestof(const std::string& bytes)
{
    Md5Digest digest;
    char out[33];
    digest.digestbuffer(reinterpret_cast<const unsigned char*>(bytes.data()), int32_t(bytes.size()), out);
    return std::string(out, 32);
}

// Entry names from the central directory of an archive without a comment, sorted.
std::vector<std::string> entrynames(const std::string& zip)
{
    std::vector<std::string> names;
    if (zip.size() < 22 || get32(zip, zip.size() - 22) != 0x06054b50) return {"<no end record>"};
    size_t count = get16(zip, zip.size() - 22 + 10);
    size_t at = get32(zip, zip.size() - 22 + 16);
    for (size_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || get32(zip, at) != 0x02014b50) return {"<bad central directory>"};
        size_t namelength = get16(zip, at + 28);
        names.push_back(zip.substr(at + 46, namelength));
        at += 46 + namelength + get16(zip, at + 30) + get16(zip, at + 32);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sortednames(const Files& files, const char* tree)
{
    std::vector<std::string> names;
    for (const auto& file : files) {
        if (file.first.compare(0, strlen(tree), tree) != 0) continue;
        std::string name = file.first;
        std::replace(name.begin(), name.end(), '/', '\\');
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string EMPTY_ARCHIVE = testpackage::emptyarchive();

Files sampletrees()
{
    return {
        {"setup/LoaderIcon.ico", testfiles::readfile(fixture("icon_6_images.ico"))},
        {"setup/rEdizo.exe", noise(50000, 1)},
        {"setup/config.xml", "<?xml version=\"1.0\"?>\r\n<config><source path=\"\"/></config>\r\n"},
        {"setup/empty.txt", ""},
        {"setup/docs/readme.txt", std::string(3000, 'r')},
        {"setup/docs/deeper/exact.bin", noise(16384, 2)},
        {"app/readme.txt", "application\r\n"},
        {"app/bin/data.bin", noise(70000, 3)},
    };
}

TEST(Builder, PackageIsProgramArchivesAndTrailer)
{
    Files files = sampletrees();
    workdir work(L"builder_layout", files);
    harness::runresult r = work.build();
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timedout);
    ASSERT_EQ(r.exitcode, 0u) << r.output;

    std::string package = testfiles::readfile(work.package());
    std::string a = work.archiveA();
    std::string b = work.archiveB();
    ASSERT_TRUE(hastrailer(package)) << r.output;
    PackageTrailer trailer = trailerof(package);
    size_t end = package.size() - TRAILER_SIZE;
    ASSERT_LT(trailer.offsetA, trailer.offsetB);
    ASSERT_LE(trailer.offsetB, end);
    EXPECT_EQ(trailer.offsetB - trailer.offsetA, a.size());
    EXPECT_EQ(end - trailer.offsetB, b.size());
    EXPECT_TRUE(package.substr(trailer.offsetA, a.size()) == a);
    EXPECT_TRUE(package.substr(trailer.offsetB, b.size()) == b);
    EXPECT_EQ(std::string(trailer.digestA, 32), digestof(a));
    EXPECT_EQ(std::string(trailer.digestB, 32), digestof(b));
    EXPECT_EQ(entrynames(a), sortednames(files, "setup/"));
    EXPECT_EQ(entrynames(b), sortednames(files, "app/"));

    // The stub image is the program with the new icon, exactly as the icon
    // replacement makes it on its own.
    std::wstring reference = work.dir + L"\\reference.exe";
    ASSERT_TRUE(harness::copywithsize(harness::bootstrapexe(), reference, 0));
    ASSERT_TRUE(replaceicon((work.dir + L"\\setup\\LoaderIcon.ico").c_str(), reference.c_str()));
    std::string stub = testfiles::readfile(reference);
    EXPECT_EQ(trailer.offsetA, stub.size());
    EXPECT_TRUE(package.compare(0, stub.size(), stub) == 0);
}

struct IconRow {
    const char* name;
    const char* fixture;
    WORD highestid;
};

std::ostream& operator<<(std::ostream& os, const IconRow& row) { return os << row.name; }

const IconRow iconRows[] = {
    {"one_image", "icon_1_image.ico", 10},
    {"six_images", "icon_6_images.ico", 10},
    {"ten_images", "icon_10_images.ico", 10},
    {"twelve_images", "icon_12_images.ico", 14},
};

class BuilderIcon : public testing::TestWithParam<IconRow> {};

TEST_P(BuilderIcon, PackageCarriesTheLoaderIcon)
{
    const IconRow& row = GetParam();
    std::string ico = testfiles::readfile(fixture(row.fixture));
    std::vector<std::string> images = peresources::iconimages(ico);
    ASSERT_FALSE(images.empty());
    workdir work(L"builder_icon_" + harness::widen(row.name), {{"setup/LoaderIcon.ico", ico}});
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;

    std::vector<WORD> expectedids;
    for (WORD id = 1; id <= row.highestid; ++id) expectedids.push_back(id);
    EXPECT_EQ(peresources::ids(work.package(), RT_ICON), expectedids);
    for (WORD id = 1; id <= row.highestid; ++id) {
        std::string bytes;
        EXPECT_TRUE(peresources::read(work.package(), RT_ICON, id, ENGLISH_US, bytes)) << "icon " << id;
        EXPECT_TRUE(bytes == (id <= images.size() ? images[id - 1] : images.back())) << "icon " << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Builder, BuilderIcon, testing::ValuesIn(iconRows),
                         [](const testing::TestParamInfo<IconRow>& info) { return std::string(info.param.name); });

// While it packs, the builder shows its small "Waiting ..." popup; a tree of
// a few megabytes keeps it up long enough to be seen.
TEST(Builder, ShowsTheWaitingPopupWhileItWorks)
{
    Files files = sampletrees();
    for (int i = 0; i < 8; ++i) files.push_back({"setup/bulk/b" + std::to_string(i) + ".bin", noise(1 << 20, 10 + i)});
    workdir work(L"builder_popup", files);
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_NE(std::find(r.windows.begin(), r.windows.end(), "Static|Waiting ..."), r.windows.end())
        << testing::PrintToString(r.windows);
}

TEST(Builder, NoAppTreeGivesTheEmptyArchive)
{
    workdir work(L"builder_noapp", {{"setup/rEdizo.exe", noise(1000, 4)}});
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;
    std::string package = testfiles::readfile(work.package());
    ASSERT_TRUE(hastrailer(package));
    PackageTrailer trailer = trailerof(package);
    EXPECT_EQ(trailer.offsetB, package.size() - TRAILER_SIZE - 22);
    EXPECT_TRUE(package.substr(trailer.offsetB, 22) == EMPTY_ARCHIVE);
    EXPECT_TRUE(work.archiveB() == EMPTY_ARCHIVE);
    EXPECT_EQ(std::string(trailer.digestB, 32), "76cdb2bad9582d23c1f6f4d868218d6c");
}

TEST(Builder, BuildingTwiceGivesIdenticalBytes)
{
    workdir work(L"builder_twice", sampletrees());
    ASSERT_EQ(work.build().exitcode, 0u);
    std::string firstA = work.archiveA();
    std::string firstB = work.archiveB();
    std::string first = testfiles::readfile(work.package());
    ASSERT_TRUE(hastrailer(first));
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_TRUE(work.archiveA() == firstA);
    EXPECT_TRUE(work.archiveB() == firstB);
    std::string second = testfiles::readfile(work.package());
    EXPECT_EQ(second.size(), first.size());
    EXPECT_TRUE(second == first);
}

TEST(Builder, ExistingOutputsAreReplaced)
{
    workdir work(L"builder_replace", {{"setup/rEdizo.exe", noise(1000, 5)}});
    std::string stale(3000000, 'x');
    work.add("install_test.exe", stale);
    testfiles::writefile(work.tmp + L"\\qlib.zip", stale);
    testfiles::writefile(work.tmp + L"\\test.zip", stale);
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;

    std::string package = testfiles::readfile(work.package());
    std::string a = work.archiveA();
    ASSERT_TRUE(hastrailer(package));
    EXPECT_EQ(package.compare(0, 2, "MZ"), 0);
    EXPECT_EQ(a.compare(0, 4, "PK\x03\x04"), 0);
    EXPECT_TRUE(work.archiveB() == EMPTY_ARCHIVE);
    PackageTrailer trailer = trailerof(package);
    EXPECT_EQ(package.size(), trailer.offsetA + a.size() + 22 + TRAILER_SIZE);
    EXPECT_EQ(package.find("xxxxxxxx"), std::string::npos);
}

TEST(Builder, MissingLoaderIconStillBuilds)
{
    workdir work(L"builder_noicon", {{"setup/rEdizo.exe", noise(1000, 6)}});
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_NE(r.output.find("Open IconFile Failed!\n"), std::string::npos) << r.output;
    std::string package = testfiles::readfile(work.package());
    ASSERT_TRUE(hastrailer(package));
    // The program's own icon images stay.
    std::wstring bare = harness::bootstrapexe();
    std::vector<WORD> ids = peresources::ids(bare, RT_ICON);
    EXPECT_EQ(peresources::ids(work.package(), RT_ICON), ids);
    for (WORD id : ids) {
        std::string own, packaged;
        EXPECT_TRUE(peresources::read(bare, RT_ICON, id, ENGLISH_US, own));
        EXPECT_TRUE(peresources::read(work.package(), RT_ICON, id, ENGLISH_US, packaged));
        EXPECT_TRUE(own == packaged) << "icon " << id;
    }
}

struct LockedRow {
    const char* name;
    const char* file;  // the tree file kept open without sharing while the builder runs
    const char* entry; // its entry name, as the lines name it
};

std::ostream& operator<<(std::ostream& os, const LockedRow& row) { return os << row.name; }

const LockedRow lockedRows[] = {
    {"setup_file", "setup/docs/locked.bin", "setup\\docs\\locked.bin"},
    {"app_file", "app/locked.bin", "app\\locked.bin"},
};

class UnreadableTreeFile : public testing::TestWithParam<LockedRow> {};

TEST_P(UnreadableTreeFile, FailsWithoutTrailer)
{
    const LockedRow& row = GetParam();
    workdir work(L"builder_locked_" + harness::widen(row.name),
                 {{"setup/rEdizo.exe", noise(1000, 7)}, {"app/readme.txt", "app"}, {row.file, noise(5000, 8)}});
    std::wstring locked = work.dir + L"\\" + harness::widen(row.entry);
    filehandle hold(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bool(hold));
    harness::runresult r = work.build();
    hold.reset();
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    EXPECT_NE(r.output.find(row.entry), std::string::npos) << r.output;
    // A copy of the bare program left under the package's name would build when started.
    EXPECT_FALSE(harness::fileexists(work.package()));
}

INSTANTIATE_TEST_SUITE_P(Builder, UnreadableTreeFile, testing::ValuesIn(lockedRows),
                         [](const testing::TestParamInfo<LockedRow>& info) { return std::string(info.param.name); });

TEST(Builder, TreeFileOf2GiBIsRefused)
{
    workdir work(L"builder_huge", {{"setup/rEdizo.exe", noise(1000, 9)}});
    std::wstring huge = work.dir + L"\\setup\\huge.bin";
    {
        // Sparse: only the size is set, nothing is written.
        filehandle file(CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(bool(file));
        LARGE_INTEGER size;
        size.QuadPart = 0x80000000LL;
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    harness::runresult r = work.build();
    DeleteFileW(huge.c_str());
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    EXPECT_NE(r.output.find("setup\\huge.bin is 2 GiB or larger"), std::string::npos) << r.output;
    EXPECT_FALSE(harness::fileexists(work.package()));
    EXPECT_FALSE(harness::fileexists(work.tmp + L"\\qlib.zip"));
}

TEST(Builder, PackageThatCannotBeCreatedEndsWithMinusOne)
{
    workdir work(L"builder_nocreate", {{"setup/rEdizo.exe", noise(1000, 10)}});
    ASSERT_TRUE(CreateDirectoryW(work.package().c_str(), nullptr));
    harness::runresult r = work.build();
    EXPECT_EQ(r.exitcode, DWORD(-1));
    EXPECT_EQ(r.output, "Open install_test.exe failed!\n");
    EXPECT_FALSE(harness::fileexists(work.tmp + L"\\qlib.zip"));
}

TEST(Builder, ArchiveThatCannotBeCreatedFailsWithoutTrailer)
{
    workdir work(L"builder_noarchive", {{"setup/rEdizo.exe", noise(1000, 11)}});
    // A stale qlib.zip would otherwise pass for archive A.
    testfiles::writefile(work.tmp + L"\\qlib.zip", "stale");
    ASSERT_TRUE(CreateDirectoryW((work.tmp + L"\\test.zip").c_str(), nullptr));
    harness::runresult r = work.build();
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    EXPECT_NE(r.output.find("Making test.zip failed!\n"), std::string::npos) << r.output;
    EXPECT_FALSE(harness::fileexists(work.package()));
}

TEST(Builder, FailedBuildRemovesThePackageOfAnEarlierBuild)
{
    workdir work(L"builder_failed_after_success", {{"setup/rEdizo.exe", noise(1000, 12)}});
    ASSERT_EQ(work.build().exitcode, 0u);
    ASSERT_TRUE(hastrailer(testfiles::readfile(work.package())));
    ASSERT_TRUE(DeleteFileW((work.tmp + L"\\qlib.zip").c_str()));
    ASSERT_TRUE(CreateDirectoryW((work.tmp + L"\\qlib.zip").c_str(), nullptr));
    harness::runresult r = work.build();
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    EXPECT_NE(r.output.find("Making qlib.zip failed!\n"), std::string::npos) << r.output;
    EXPECT_FALSE(harness::fileexists(work.package()));
}

// Links are made as Unix links (see harness::makeunixlink) and removed
// again before the scratch directory is, whatever the test's outcome.
struct linkset {
    std::vector<std::wstring> links;
    ~linkset()
    {
        for (const auto& link : links) harness::removeunixlink(link);
    }
    bool add(const std::wstring& dir, const char* relative, const char* target)
    {
        std::wstring link = dir + L"\\" + harness::widen(relative);
        std::replace(link.begin(), link.end(), L'/', L'\\');
        links.push_back(link);
        return harness::makeunixlink(target, link);
    }
};

struct LoopRow {
    const char* name;
    const char* links[2][2]; // link (relative to the working directory), its target; null: none
    const char* line;        // the builder's line for the loop
    const char* otherline;   // the line when the listing meets the loop from its other side; null: none
};

std::ostream& operator<<(std::ostream& os, const LoopRow& row) { return os << row.name; }

const LoopRow loopRows[] = {
    {"setup_link_to_working_directory",
     {{"setup/loop", ".."}, {}},
     "setup\\loop\\setup leads back to setup: a tree with a loop cannot be packed!\n",
     nullptr},
    {"setup_link_to_tree_root",
     {{"setup/docs/root", ".."}, {}},
     "setup\\docs\\root leads back to setup: a tree with a loop cannot be packed!\n",
     nullptr},
    {"app_link_to_its_own_directory",
     {{"app/bin/self", "."}, {}},
     "app\\bin\\self leads back to app\\bin: a tree with a loop cannot be packed!\n",
     nullptr},
    {"cycle_of_two_links",
     {{"setup/a/tob", "../b"}, {"setup/b/toa", "../a"}},
     "setup\\a\\tob\\toa leads back to setup\\a: a tree with a loop cannot be packed!\n",
     "setup\\b\\toa\\tob leads back to setup\\b: a tree with a loop cannot be packed!\n"},
};

class TreeWithLoop : public testing::TestWithParam<LoopRow> {};

TEST_P(TreeWithLoop, EndsWithItsLineAndNoPackage)
{
    const LoopRow& row = GetParam();
    workdir work(L"builder_loop_" + harness::widen(row.name), {{"setup/rEdizo.exe", noise(1000, 13)},
                                                               {"setup/docs/readme.txt", "docs"},
                                                               {"setup/a/a.txt", "a"},
                                                               {"setup/b/b.txt", "b"},
                                                               {"app/bin/data.bin", noise(3000, 14)}});
    linkset links;
    for (const auto& link : row.links) {
        if (link[0]) {
            ASSERT_TRUE(links.add(work.dir, link[0], link[1])) << link[0];
        }
    }
    harness::runresult r = work.build();
    ASSERT_TRUE(r.started) << "error " << r.starterror;
    ASSERT_FALSE(r.timedout) << "the builder followed the loop";
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    const bool line = r.output.find(row.line) != std::string::npos;
    const bool otherline = row.otherline && r.output.find(row.otherline) != std::string::npos;
    EXPECT_TRUE(line || otherline) << r.output;
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_FALSE(harness::fileexists(work.package()));
}

INSTANTIATE_TEST_SUITE_P(Builder, TreeWithLoop, testing::ValuesIn(loopRows),
                         [](const testing::TestParamInfo<LoopRow>& info) { return std::string(info.param.name); });

// A case-sensitive directory holds two names for what Windows takes for one
// file (here a Unix link beside its target): the builder refuses the tree.
TEST(Builder, NamesDifferingOnlyInCaseRefused)
{
    workdir work(L"builder_case_twins", {{"setup/rEdizo.exe", noise(1000, 17)}, {"app/readme.txt", "app"}});
    linkset links;
    ASSERT_TRUE(links.add(work.dir, "app/README.TXT", "readme.txt"));
    harness::runresult r = work.build();
    EXPECT_EQ(r.exitcode, DWORD(-1)) << r.output;
    const bool upperfirst =
        r.output.find("app\\readme.txt differs only in case from app\\README.TXT: a package cannot hold both!\n") !=
        std::string::npos;
    const bool lowerfirst =
        r.output.find("app\\README.TXT differs only in case from app\\readme.txt: a package cannot hold both!\n") !=
        std::string::npos;
    EXPECT_TRUE(upperfirst || lowerfirst) << r.output;
    EXPECT_FALSE(harness::fileexists(work.package()));
}

TEST(Builder, LinksOutsideTheTreeArePackedAsTheirTargets)
{
    workdir work(L"builder_outside_links", {{"setup/rEdizo.exe", noise(1000, 15)}, {"app/readme.txt", "app"}});
    std::wstring outside = harness::scratchdir(L"builder_outside_links_target");
    testfiles::writefile(outside + L"\\o.txt", "outside");
    CreateDirectoryW((outside + L"\\sub").c_str(), nullptr);
    testfiles::writefile(outside + L"\\sub\\p.bin", noise(20000, 16));
    const std::string target = harness::narrow(outside.substr(2));
    std::string unixtarget = target;
    std::replace(unixtarget.begin(), unixtarget.end(), '\\', '/');
    linkset links;
    ASSERT_TRUE(links.add(work.dir, "setup/ext", unixtarget.c_str()));
    ASSERT_TRUE(links.add(work.dir, "app/o.txt", (unixtarget + "/o.txt").c_str()));
    harness::runresult r = work.build();
    ASSERT_EQ(r.exitcode, 0u) << r.output;
    EXPECT_EQ(entrynames(work.archiveA()),
              (std::vector<std::string>{"setup\\ext\\o.txt", "setup\\ext\\sub\\p.bin", "setup\\rEdizo.exe"}));
    EXPECT_EQ(entrynames(work.archiveB()), (std::vector<std::string>{"app\\o.txt", "app\\readme.txt"}));
    EXPECT_TRUE(hastrailer(testfiles::readfile(work.package())));
}

} // namespace
