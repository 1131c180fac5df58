// The package inspector over packages made in the test with the builder's
// own format code: archives written by minizip's writer with the builder's
// settings (level 9, no time stamps), the core's sampled digest and trailer
// codec. Each row carries one fault and names the finding it must produce.
#include "namecodec.h"
#include "outputtree.h"
#include "packageinspect.h"

#include "../helpers/rawdeflate.h"

#include "bytes.h"
#include "testfiles.h"
#include "testnoise.h"
#include "testpackage.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using testfiles::readfile;
using testfiles::writefile;
using testpackage::makepackage;

// A directory of the test's own, removed with everything in it.
class scratch {
public:
    explicit scratch(const std::string& name)
    {
        root = testing::TempDir() + "inspect_" + name;
        remove(root);
        mkdir(root);
    }
    ~scratch() { remove(root); }
    std::string path(const std::string& name) const { return root + "/" + name; }

    static void mkdir(const std::string& dir)
    {
#ifdef _WIN32
        CreateDirectoryA(dir.c_str(), nullptr);
#else
        ::mkdir(dir.c_str(), 0777);
#endif
    }
    static void remove(const std::string& dir)
    {
#ifdef _WIN32
        std::string command = "rmdir /s /q \"" + dir + "\" 2>nul";
#else
        std::string command = "rm -rf '" + dir + "'";
#endif
        if (system(command.c_str()) != 0) return;
    }

    std::string root;
};

struct entry {
    std::string name;
    std::string data;
    bool damaged = false; // a byte of the deflated data altered
};

// An archive as the builder writes it (datazip's minizip calls and settings).
std::string makearchive(const scratch& dir, const std::vector<entry>& entries)
{
    std::string path = dir.path("archive.zip");
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr);
    for (const entry& e : entries) {
        zip_fileinfo info;
        memset(&info, 0, sizeof info);
        if (!e.damaged) {
            EXPECT_EQ(zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9),
                      ZIP_OK);
            if (!e.data.empty()) zipWriteInFileInZip(zip, e.data.data(), unsigned(e.data.size()));
            zipCloseFileInZip(zip);
        } else {
            std::string packed = rawdeflate(e.data);
            packed[packed.size() / 2] ^= 0x40;
            zipOpenNewFileInZip2(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1);
            zipWriteInFileInZip(zip, packed.data(), unsigned(packed.size()));
            zipCloseFileInZipRaw(zip, e.data.size(), crc32(0, (const Bytef*)e.data.data(), uInt(e.data.size())));
        }
    }
    zipClose(zip, nullptr);
    return readfile(path);
}

// The smallest PE32 header whose security directory entry can name a
// certificate table, as a signing tool fills it in.
std::string pestub()
{
    std::string stub(1024, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    put32(stub, 0x3c, 0x80);
    memcpy(&stub[0x80], "PE\0\0", 4);
    stub[0x80 + 20] = char(224); // size of the optional header
    stub[0x80 + 24] = 0x0b;      // PE32 magic 0x10b
    stub[0x80 + 25] = 0x01;
    put32(stub, 0x80 + 24 + 92, 16); // data directory entries
    return stub;
}

// Signs as a signing tool does: pads to 8 bytes, appends a certificate
// table and points the security entry at it.
std::string withsignature(std::string package)
{
    while (package.size() % 8) package.push_back('\0');
    std::string table = std::string("\x20\x01\0\0\0\x02\x02\0", 8) + noise(280, 99);
    put32(package, 0x80 + 24 + 96 + 32, uint32_t(package.size()));
    put32(package, 0x80 + 24 + 96 + 36, uint32_t(table.size()));
    return package + table;
}

const std::string SETUP_PROGRAM = "MZ" + noise(3000, 1);

// The sample tree: archive A over 36864 bytes (sampled digest) with an
// incompressible entry, archive B small (digested whole).
std::vector<entry> sampleA()
{
    return {{"setup\\rEdizo.exe", SETUP_PROGRAM},
            {"setup\\data\\noise.bin", noise(120000, 2)},
            {"setup\\empty.txt", ""},
            {"setup\\a\\b\\deep.txt", "deep\r\n"}};
}
std::vector<entry> sampleB() { return {{"app\\app.txt", "application data\r\n"}}; }

enum fault {
    NONE,
    BYTES_AFTER_TRAILER,
    SIGNED,
    UNSAMPLED_BYTE_IN_ENTRY, // a data byte the sampled digest never reads
    BYTE_IN_ARCHIVE_B,
    HOSTILE_ENTRY, // an entry named by the row, after the setup program
    DAMAGED_ENTRY,
    HOSTILE_APP_ENTRY,
    NO_SETUP_PROGRAM,
    CUT_AT_A,
    CUT_INSIDE_A,
    CUT_AT_B,
    CUT_AT_T,
    CUT_INSIDE_TRAILER,
    OFFSET_A_EQUALS_B,
    OFFSET_B_PAST_TRAILER,
    OFFSET_B_BEFORE_A,
    MORE_ENTRIES,
    LARGER_SIZE,
    NO_ARCHIVE_A,
    EMPTY_FILE,
    ENTRY_AFTER,         // only the row's last entry
    CD_OFFSET_MOVED,     // archive A's end record points 100 bytes past its central directory
    CD_OFFSET_PAST_FILE, // ... or past the end of the file
    ANNOUNCES_65535,     // archive A's end record announces 65535 entries
    SHARED_LOCAL_HEADER, // a second central record on the local header of setup\data\noise.bin
};

struct row {
    const char* label;
    fault kind;
    const char* name;    // the hostile entry's name, for HOSTILE_ENTRY and HOSTILE_APP_ENTRY
    const char* last;    // a hostile entry's name after every other of archive A (null: none)
    int verdict;         // INSPECT_
    const char* finding; // text one finding must contain (null: none expected)
};

std::ostream& operator<<(std::ostream& os, const row& r) { return os << r.label; }

const row ROWS[] = {
    {"sound", NONE, nullptr, nullptr, INSPECT_SOUND, nullptr},
    {"bytes_after_trailer", BYTES_AFTER_TRAILER, nullptr, nullptr, INSPECT_SOUND, nullptr},
    {"signed", SIGNED, nullptr, nullptr, INSPECT_SOUND, nullptr},
    {"unsampled_byte_in_entry", UNSAMPLED_BYTE_IN_ENTRY, nullptr, nullptr, INSPECT_FINDINGS, "CRC-32 mismatch"},
    {"byte_in_archive_b", BYTE_IN_ARCHIVE_B, nullptr, nullptr, INSPECT_FINDINGS, "archive B: digest mismatch"},
    {"dotdot_backslash", HOSTILE_ENTRY, "setup\\..\\..\\evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"dotdot_forward_slash", HOSTILE_ENTRY, "setup/../../evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"outside_setup", HOSTILE_ENTRY, "evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"drive_prefix", HOSTILE_ENTRY, "setup\\C:\\evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"leading_separator", HOSTILE_ENTRY, "\\setup\\evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"long_name", HOSTILE_ENTRY, "", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"device_name", HOSTILE_ENTRY, "setup\\NUL", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"device_name_with_extension", HOSTILE_ENTRY, "setup\\COM1.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"alternate_data_stream", HOSTILE_ENTRY, "setup\\rEdizo.exe:evil", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"trailing_dot", HOSTILE_ENTRY, "setup\\evil.", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"trailing_space", HOSTILE_ENTRY, "setup\\evil ", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"lead_byte_before_separator", HOSTILE_ENTRY, "setup\\a\x81/../../evil.txt", nullptr, INSPECT_FINDINGS,
     "unsafe name"},
    {"damaged_data", DAMAGED_ENTRY, nullptr, nullptr, INSPECT_FINDINGS, "data damaged"},
    {"app_entry_outside_app", HOSTILE_APP_ENTRY, "setup\\evil.txt", nullptr, INSPECT_FINDINGS,
     "archive B: setup\\evil.txt"},
    {"app_entry_dotdot", HOSTILE_APP_ENTRY, "app\\..\\evil.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"no_setup_program", NO_SETUP_PROGRAM, nullptr, nullptr, INSPECT_FINDINGS, "setup\\rEdizo.exe missing"},
    {"cut_at_archive_a", CUT_AT_A, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_inside_archive_a", CUT_INSIDE_A, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_at_archive_b", CUT_AT_B, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_at_trailer", CUT_AT_T, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_inside_trailer", CUT_INSIDE_TRAILER, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"empty_file", EMPTY_FILE, nullptr, nullptr, INSPECT_UNREADABLE, nullptr},
    {"offset_a_equals_b", OFFSET_A_EQUALS_B, nullptr, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"offset_b_past_trailer", OFFSET_B_PAST_TRAILER, nullptr, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"offset_b_before_a", OFFSET_B_BEFORE_A, nullptr, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"directory_claims_more_entries", MORE_ENTRIES, nullptr, nullptr, INSPECT_FINDINGS,
     "archive A: the end record announces"},
    {"directory_claims_larger_size", LARGER_SIZE, nullptr, nullptr, INSPECT_FINDINGS, "archive A: setup\\rEdizo.exe"},
    {"no_archive_a", NO_ARCHIVE_A, nullptr, nullptr, INSPECT_FINDINGS, "archive A: no readable ZIP end of central"},
    {"central_directory_moved", CD_OFFSET_MOVED, nullptr, nullptr, INSPECT_FINDINGS,
     "archive A: no readable ZIP end of central"},
    {"central_directory_past_file", CD_OFFSET_PAST_FILE, nullptr, nullptr, INSPECT_FINDINGS,
     "archive A: no readable ZIP end of central"},
    {"end_record_announces_65535", ANNOUNCES_65535, nullptr, nullptr, INSPECT_FINDINGS,
     "archive A: the end record announces 65535 entries, 4 can be read"},
    {"escape_sequence_in_name", HOSTILE_ENTRY, "setup\\\x1B[31mred.txt", nullptr, INSPECT_FINDINGS, "unsafe name"},
    {"file_where_directory_needed", HOSTILE_ENTRY, "setup\\a\\b", nullptr, INSPECT_FINDINGS,
     "archive A: setup\\a\\b\\deep.txt: needs a directory where a file stands: setup\\a\\b"},
    {"directory_where_file_follows", ENTRY_AFTER, nullptr, "setup\\a", INSPECT_FINDINGS,
     "archive A: setup\\a: stands where a directory is needed by setup\\a\\b\\deep.txt"},
    {"name_not_in_code_page", HOSTILE_ENTRY, "setup\\\x81\x7F.txt", nullptr, INSPECT_FINDINGS,
     "not a name in code page 936"},
    {"duplicate_name", ENTRY_AFTER, nullptr, "setup\\empty.txt", INSPECT_FINDINGS,
     "archive A: setup\\empty.txt: named twice: it replaces the earlier setup\\empty.txt"},
    {"duplicate_setup_program", ENTRY_AFTER, nullptr, "setup\\rEdizo.exe", INSPECT_FINDINGS,
     "archive A: setup\\rEdizo.exe: named twice"},
    {"duplicate_other_separator", ENTRY_AFTER, nullptr, "setup/a/b/deep.txt", INSPECT_FINDINGS,
     "setup/a/b/deep.txt: named twice: it replaces the earlier setup\\a\\b\\deep.txt"},
    {"names_differ_in_case", ENTRY_AFTER, nullptr, "setup\\EMPTY.TXT", INSPECT_FINDINGS,
     "archive A: setup\\EMPTY.TXT: differs only in case from setup\\empty.txt"},
    {"directories_differ_in_case", ENTRY_AFTER, nullptr, "setup\\A\\B\\deep.txt", INSPECT_FINDINGS,
     "differs only in case from setup\\a\\b\\deep.txt"},
    {"greek_names_differ_in_case", HOSTILE_ENTRY, "setup\\\xA6\xC1.txt", "setup\\\xA6\xA1.txt", INSPECT_FINDINGS,
     "differs only in case from setup\\\xA6\xC1.txt"},
    {"shared_local_header", SHARED_LOCAL_HEADER, nullptr, nullptr, INSPECT_FINDINGS,
     "archive A: setup\\data\\noisf.bin: its data overlap those of setup\\data\\noise.bin"},
};

// The archive with a copy of the central record named original, renamed to
// copy (of the same length), right after it: two entries on one local header.
std::string sharelocalheader(std::string archive, const std::string& original, const std::string& copy)
{
    size_t end = archive.size() - 22;
    EXPECT_EQ(archive.compare(end, 4, "PK\x05\x06"), 0);
    size_t at = get32(archive, end + 16);
    while (at < end && archive.compare(at, 4, "PK\x01\x02") == 0) {
        size_t namelength = size_t((unsigned char)archive[at + 28]) | size_t((unsigned char)archive[at + 29]) << 8;
        size_t length = 46 + namelength + ((unsigned char)archive[at + 30] | (unsigned char)archive[at + 31] << 8) +
                        ((unsigned char)archive[at + 32] | (unsigned char)archive[at + 33] << 8);
        if (archive.compare(at + 46, namelength, original) == 0) {
            std::string record = archive.substr(at, length);
            record.replace(46, namelength, copy);
            archive.insert(at + length, record);
            end += length;
            archive[end + 8] = char(archive[end + 8] + 1); // entries on this disk
            archive[end + 10] = char(archive[end + 10] + 1);
            put32(archive, end + 12, get32(archive, end + 12) + uint32_t(length));
            return archive;
        }
        at += length;
    }
    ADD_FAILURE() << original << " has no central record";
    return archive;
}

// The package of a row, and where its archives lie.
std::string buildrow(const scratch& dir, const row& r)
{
    std::vector<entry> a = sampleA(), b = sampleB();
    if (r.kind == HOSTILE_ENTRY) a.insert(a.begin() + 1, {*r.name ? r.name : "setup\\" + std::string(600, 'n'), "x"});
    // Compressible data: its deflate stream has codes, and an altered code
    // stops inflate instead of passing for other bytes.
    if (r.kind == DAMAGED_ENTRY) {
        std::string text;
        for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\r\n";
        a.insert(a.begin() + 1, entry{"setup\\damaged.bin", text, true});
    }
    if (r.kind == HOSTILE_APP_ENTRY) b.push_back({r.name, "x"});
    if (r.last) a.push_back({r.last, "x"});
    if (r.kind == NO_SETUP_PROGRAM) a.erase(a.begin());
    std::string stub = pestub();
    std::string archiveA = r.kind == NO_ARCHIVE_A ? noise(5000, 3) : makearchive(dir, a);
    if (r.kind == SHARED_LOCAL_HEADER)
        archiveA = sharelocalheader(archiveA, "setup\\data\\noise.bin", "setup\\data\\noisf.bin");
    std::string archiveB = makearchive(dir, b);
    std::string package = makepackage(stub, archiveA, archiveB);
    size_t offsetA = stub.size(), offsetB = offsetA + archiveA.size(), t = package.size() - TRAILER_SIZE;
    switch (r.kind) {
    case BYTES_AFTER_TRAILER: package += noise(100, 5); break;
    case SIGNED: package = withsignature(package); break;
    case UNSAMPLED_BYTE_IN_ENTRY: {
        // Samples: [k * step, k * step + 4096) for k < 8, and the last 4096.
        size_t step = archiveA.size() / 9;
        size_t at = offsetA + step + 4096 + 100;
        size_t noiseat = package.find("setup\\data\\noise.bin", offsetA);
        EXPECT_LT(noiseat + 200, at) << "inside the incompressible entry's data";
        EXPECT_LT(at, offsetA + 2 * step);
        package[at] ^= 0x20;
        break;
    }
    case BYTE_IN_ARCHIVE_B: package[offsetB + 40] ^= 0x01; break;
    case CUT_AT_A: package.resize(offsetA); break;
    case CUT_INSIDE_A: package.resize(offsetA + 100); break;
    case CUT_AT_B: package.resize(offsetB); break;
    case CUT_AT_T: package.resize(t); break;
    case CUT_INSIDE_TRAILER: package.resize(t + 40); break;
    case EMPTY_FILE: package.clear(); break;
    case OFFSET_A_EQUALS_B: put32(package, t, uint32_t(offsetB)); break;
    case OFFSET_B_PAST_TRAILER: put32(package, t + 36, uint32_t(t + 1000)); break;
    case OFFSET_B_BEFORE_A: put32(package, t + 36, uint32_t(offsetA - 100)); break;
    case MORE_ENTRIES: put32(package, offsetB - 22 + 8, 0x00100010u); break;
    case ANNOUNCES_65535: put32(package, offsetB - 22 + 8, 0xFFFFFFFFu); break;
    case CD_OFFSET_MOVED: put32(package, offsetB - 22 + 16, get32(package, offsetB - 22 + 16) + 100); break;
    case CD_OFFSET_PAST_FILE: put32(package, offsetB - 22 + 16, 0x7FFFFFF0u); break;
    case LARGER_SIZE: {
        size_t first = offsetA + get32(package, offsetB - 22 + 16);
        EXPECT_EQ(package.compare(first, 4, "PK\x01\x02"), 0);
        put32(package, first + 24, get32(package, first + 24) + 1000); // uncompressed size
        break;
    }
    default: break;
    }
    return package;
}

bool contains(const std::vector<finding>& findings, const std::string& text)
{
    for (const finding& f : findings) {
        std::string line = f.archive ? std::string("archive ") + f.archive + ": " : "";
        if (!f.name.empty()) line += f.name + ": ";
        if ((line + f.text + f.other).find(text) != std::string::npos) return true;
    }
    return false;
}

std::string describe(const std::vector<finding>& findings)
{
    std::string out;
    for (const finding& f : findings)
        out += std::string(1, f.archive ? f.archive : '-') + " " + f.name + ": " + f.text + f.other + "\n";
    return out;
}

class VerifyTest : public testing::TestWithParam<row> {};

TEST_P(VerifyTest, FindsExactlyTheRowsFault)
{
    const row& r = GetParam();
    scratch dir(std::string("verify_") + r.label);
    std::string path = dir.path("package.exe");
    writefile(path, buildrow(dir, r));
    FILE* stream = fopen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    packageinspector inspector;
    int opened = inspector.open(stream);
    std::vector<finding> findings;
    int verdict = opened == INSPECT_UNREADABLE ? opened : inspector.verify(936, findings);
    fclose(stream);
    EXPECT_EQ(verdict, r.verdict) << describe(findings);
    if (r.finding) {
        EXPECT_TRUE(contains(findings, r.finding)) << describe(findings);
    }
    if (r.kind == UNSAMPLED_BYTE_IN_ENTRY) {
        EXPECT_FALSE(contains(findings, "digest")) << "the sampled digest misses it";
    }
    if (r.kind == SIGNED) {
        EXPECT_TRUE(inspector.package().signature);
    }
    if (verdict == INSPECT_SOUND) {
        EXPECT_TRUE(findings.empty()) << describe(findings);
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, VerifyTest, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<row>& info) { return std::string(info.param.label); });

TEST(Inspect, InfoAndListOfASoundPackage)
{
    scratch dir("info");
    std::string path = dir.path("package.exe");
    std::string package = buildrow(dir, ROWS[0]);
    writefile(path, package);
    FILE* stream = fopen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    packageinspector inspector;
    ASSERT_EQ(inspector.open(stream), INSPECT_SOUND);
    fclose(stream);
    const inspectedpackage& p = inspector.package();
    EXPECT_EQ(p.trailerpos, int32_t(package.size() - TRAILER_SIZE));
    EXPECT_EQ(p.distance, -TRAILER_MARKER_SIZE);
    EXPECT_EQ(p.a.start, pestub().size());
    EXPECT_EQ(std::string(p.computedA, 32), std::string(p.trailer.digestA, 32));
    EXPECT_FALSE(p.signature);
    std::vector<entry> a = sampleA();
    ASSERT_EQ(p.a.entries.size(), a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(p.a.entries[i].name, a[i].name);
        EXPECT_EQ(p.a.entries[i].size, a[i].data.size());
        EXPECT_EQ(p.a.entries[i].crc, uint32_t(crc32(0, (const Bytef*)a[i].data.data(), uInt(a[i].data.size()))));
        EXPECT_EQ(p.a.entries[i].method, 8);
    }
    ASSERT_EQ(p.b.entries.size(), 1u);
    EXPECT_EQ(p.b.entries[0].name, "app\\app.txt");
}

// Extraction into an outputtree, as the inspect program does it.
class treesink : public entrysink {
public:
    treesink(outputtree& tree, std::vector<finding>& findings) : tree(tree), findings(findings) {}
    bool begin(const inspectedentry& entry) override
    {
        if (tree.create(splitname(entry.name, nullptr))) return true;
        findings.push_back({'?', entry.name, tree.why()});
        return false;
    }
    bool data(const unsigned char* bytes, size_t length) override { return tree.write(bytes, length); }
    int32_t end(int32_t result) override
    {
        tree.finish(result == ENTRY_OK);
        return result;
    }

private:
    outputtree& tree;
    std::vector<finding>& findings;
};

std::vector<finding> extract(const std::string& package, const std::string& root)
{
    std::vector<finding> findings;
    FILE* stream = fopen(package.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream) return findings;
    packageinspector inspector;
    EXPECT_NE(inspector.open(stream), INSPECT_UNREADABLE);
    outputtree tree;
    EXPECT_TRUE(tree.open(root));
    treesink sink(tree, findings);
    inspector.extract(936, &sink, findings);
    fclose(stream);
    return findings;
}

bool exists(const std::string& path) { return fopen(path.c_str(), "rb") ? true : false; }

TEST(Extract, BothTreesBelowTheDirectory)
{
    scratch dir("extract_sound");
    writefile(dir.path("package.exe"), buildrow(dir, ROWS[0]));
    std::vector<finding> findings = extract(dir.path("package.exe"), dir.path("out"));
    EXPECT_TRUE(findings.empty()) << describe(findings);
    for (const entry& e : sampleA()) {
        std::string name = e.name;
        for (char& c : name)
            if (c == '\\') c = '/';
        EXPECT_EQ(readfile(dir.path("out/" + name)), e.data) << name;
    }
    EXPECT_EQ(readfile(dir.path("out/app/app.txt")), sampleB()[0].data);
}

TEST(Extract, HostileEntriesWriteNothingOutside)
{
    scratch dir("extract_hostile");
    scratch::mkdir(dir.path("inner"));
    for (const row& r : ROWS) {
        if (r.kind != HOSTILE_ENTRY && r.kind != DAMAGED_ENTRY && r.kind != HOSTILE_APP_ENTRY) continue;
        writefile(dir.path("package.exe"), buildrow(dir, r));
        std::vector<finding> findings = extract(dir.path("package.exe"), dir.path("inner/out"));
        EXPECT_FALSE(findings.empty()) << r.label;
        EXPECT_FALSE(exists(dir.path("evil.txt"))) << r.label;
        EXPECT_FALSE(exists(dir.path("inner/evil.txt"))) << r.label;
        EXPECT_FALSE(exists(dir.path("inner/out/evil.txt"))) << r.label;
        EXPECT_FALSE(exists(dir.path("inner/out/setup/damaged.bin"))) << r.label << ": no damaged file under its name";
        EXPECT_EQ(readfile(dir.path("inner/out/setup/rEdizo.exe")), SETUP_PROGRAM) << r.label;
    }
}

// Every row of a readable package through extract: it reports what verify
// reports, so it exits 0 only for a sound package, and writes what it can
// read whole around the faults.
class ExtractTest : public testing::TestWithParam<row> {};

TEST_P(ExtractTest, ExitsAsVerifyDoes)
{
    const row& r = GetParam();
    scratch dir(std::string("extract_") + r.label);
    writefile(dir.path("package.exe"), buildrow(dir, r));
    FILE* stream = fopen(dir.path("package.exe").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    packageinspector inspector;
    ASSERT_NE(inspector.open(stream), INSPECT_UNREADABLE);
    outputtree tree;
    ASSERT_TRUE(tree.open(dir.path("out")));
    std::vector<finding> findings;
    treesink sink(tree, findings);
    int verdict = inspector.extract(936, &sink, findings);
    fclose(stream);
    EXPECT_EQ(verdict, r.verdict) << describe(findings);
    EXPECT_EQ(verdict == INSPECT_SOUND, findings.empty()) << describe(findings);
    if (r.finding) {
        EXPECT_TRUE(contains(findings, r.finding)) << describe(findings);
    }
    bool readableA = r.kind != NO_ARCHIVE_A && r.kind != CD_OFFSET_MOVED && r.kind != CD_OFFSET_PAST_FILE;
    bool trailer = r.kind != OFFSET_A_EQUALS_B && r.kind != OFFSET_B_PAST_TRAILER && r.kind != OFFSET_B_BEFORE_A;
    // Archive B is written whatever became of archive A, and beside a digest mismatch.
    if (trailer) {
        EXPECT_EQ(readfile(dir.path("out/app/app.txt")), sampleB()[0].data);
    }
    if (readableA && trailer && r.kind != NO_SETUP_PROGRAM && r.kind != LARGER_SIZE) {
        std::string expected =
            r.kind == ENTRY_AFTER && std::string(r.last) == "setup\\rEdizo.exe" ? "x" : SETUP_PROGRAM;
        EXPECT_EQ(readfile(dir.path("out/setup/rEdizo.exe")), expected);
    }
    if (!readableA) {
        EXPECT_FALSE(exists(dir.path("out/setup/rEdizo.exe")));
    }
}

std::vector<row> readablerows()
{
    std::vector<row> rows;
    for (const row& r : ROWS)
        if (r.verdict != INSPECT_UNREADABLE) rows.push_back(r);
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Packages, ExtractTest, testing::ValuesIn(readablerows()),
                         [](const testing::TestParamInfo<row>& info) { return std::string(info.param.label); });

#ifndef _WIN32
TEST(Extract, NeverThroughALinkInsideTheDirectory)
{
    scratch dir("extract_links");
    scratch::mkdir(dir.path("outside"));
    writefile(dir.path("outside/deep.txt"), "outside file");
    writefile(dir.path("outside/empty.txt"), "outside file");
    writefile(dir.path("package.exe"), buildrow(dir, ROWS[0]));
    scratch::mkdir(dir.path("out"));
    scratch::mkdir(dir.path("out/setup"));
    // A directory of the tree and a file of the tree replaced by links.
    ASSERT_EQ(symlink(dir.path("outside").c_str(), dir.path("out/setup/a").c_str()), 0);
    ASSERT_EQ(symlink(dir.path("outside/empty.txt").c_str(), dir.path("out/setup/empty.txt").c_str()), 0);
    std::vector<finding> findings = extract(dir.path("package.exe"), dir.path("out"));
    EXPECT_TRUE(contains(findings, "setup\\a\\b\\deep.txt: setup/a/ is a link or not a directory"))
        << describe(findings);
    EXPECT_EQ(readfile(dir.path("outside/empty.txt")), "outside file");
    EXPECT_FALSE(exists(dir.path("outside/b/deep.txt")));
    struct stat info;
    ASSERT_EQ(lstat(dir.path("out/setup/empty.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "the link is replaced by the entry's file";
    EXPECT_EQ(readfile(dir.path("out/setup/rEdizo.exe")), SETUP_PROGRAM);
}
#endif

TEST(NameCodec, ChineseNamesSplitAndConvert)
{
    // "深层" in code page 936, and a character whose second byte is "\".
    std::string name = "setup\\\xC9\xEE\xB2\xE3\\\x81\x5C.txt";
    std::vector<std::string> parts = splitname(name, leadbytesof(936));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[2], "\x81\x5C.txt");
    std::string text;
    EXPECT_TRUE(toutf8(936, parts[1], text));
    EXPECT_EQ(text, "\xE6\xB7\xB1\xE5\xB1\x82");
    EXPECT_FALSE(toutf8(936, "\xFF\xFF", text));
    EXPECT_EQ(text, "\\xFF\\xFF");
}

struct shownrow {
    const char* label;
    int codepage;
    const char* name;
    const char* shown;
};

std::ostream& operator<<(std::ostream& os, const shownrow& r) { return os << r.label; }

const shownrow SHOWN[] = {
    {"plain", 936, "setup\\rEdizo.exe", "setup\\rEdizo.exe"},
    {"escape_sequence", 936, "setup\\\x1B[31mred", "setup\\\\x1B[31mred"},
    {"newline_and_tab", 1252, "a\nb\tc\r", "a\\x0Ab\\x09c\\x0D"},
    {"delete", 936, "a\x7F", "a\\x7F"},
    {"pair_not_in_936", 936, "a\x81\x7F.txt", "a\\x81\\x7F.txt"},
    {"lead_byte_at_end", 936, "a\xC9", "a\\xC9"},
    {"chinese_beside_a_bad_pair", 936, "\xC9\xEE\x81\x30", "\xE6\xB7\xB1\\x81\\x30"},
    {"undefined_in_1252", 1252, "caf\xE9\x81", "caf\xC3\xA9\\x81"},
    {"direction_mark_in_1255", 1255,
     "a\xFE"
     "b",
     "a\\xFEb"},
    {"joiner_in_1256", 1256,
     "a\x9D"
     "b",
     "a\\x9Db"},
    {"unknown_code_page", 1, "a\xE9", "a\\xE9"},
};

class ShownNameTest : public testing::TestWithParam<shownrow> {};

TEST_P(ShownNameTest, ControlsAndStrayBytesEscaped)
{
    const shownrow& r = GetParam();
    EXPECT_EQ(shownname(r.codepage, r.name), r.shown);
}

INSTANTIATE_TEST_SUITE_P(Names, ShownNameTest, testing::ValuesIn(SHOWN),
                         [](const testing::TestParamInfo<shownrow>& info) { return std::string(info.param.label); });

TEST(NameCodec, FoldedComponentsMeetWhereWindowsDoes)
{
    EXPECT_EQ(foldedcomponent(1252, "Caf\xE9.txt"), foldedcomponent(1252, "CAF\xC9.TXT"));
    EXPECT_EQ(foldedcomponent(1251, "\xE4\xE0"), foldedcomponent(1251, "\xC4\xC0")); // Cyrillic
    EXPECT_EQ(foldedcomponent(936, "\xA3\xE1"), foldedcomponent(936, "\xA3\xC1"));   // fullwidth a, A
    EXPECT_NE(foldedcomponent(936, "\xC9\xEE"), foldedcomponent(936, "\xC9\xEF"));
    EXPECT_NE(foldedcomponent(1252, "a.txt"), foldedcomponent(1252, "a.txt "));
    EXPECT_EQ(foldedcomponent(936, "x\x81\x7F"), "X\x81\x7F");
}

#ifdef INSPECT_PROGRAM
// The inspect program's output forms over a package whose entry names carry
// an escape sequence and a pair that is no character of code page 936.
struct outputrow {
    const char* label;
    const char* command; // arguments before the package
    bool json;
};

std::ostream& operator<<(std::ostream& os, const outputrow& r) { return os << r.label; }

const outputrow OUTPUTS[] = {
    {"list", "list", false},
    {"list_json", "list --json", true},
    {"verify", "verify", false},
    {"extract", "extract", false},
};

class OutputTest : public testing::TestWithParam<outputrow> {};

TEST_P(OutputTest, NamesShownEscaped)
{
    const outputrow& r = GetParam();
    scratch dir(std::string("output_") + r.label);
    row hostile = {"hostile",        HOSTILE_ENTRY, "setup\\\x1B[31mred\x1B[0m.txt", "setup\\\x81\x7F.txt",
                   INSPECT_FINDINGS, nullptr};
    writefile(dir.path("package.exe"), buildrow(dir, hostile));
    std::string command = std::string(INSPECT_PROGRAM) + " " + r.command + " '" + dir.path("package.exe") + "'";
    if (std::string(r.command) == "extract") command += " '" + dir.path("out") + "'";
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char piece[4096];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, pipe)) > 0) output.append(piece, got);
    int status = pclose(pipe);
    for (unsigned char c : output) EXPECT_TRUE(c >= 0x20 || c == '\n') << "raw byte " << int(c) << " in\n" << output;
    // JSON writes each backslash of the shown name twice.
    std::string separator = r.json ? "\\\\" : "\\";
    EXPECT_NE(output.find("setup" + separator + separator + "x1B[31mred" + separator + "x1B[0m.txt"), std::string::npos)
        << output;
    EXPECT_NE(output.find("setup" + separator + separator + "x81" + separator + "x7F.txt"), std::string::npos)
        << output;
    if (!r.json && std::string(r.command) != "list") {
        EXPECT_EQ(WEXITSTATUS(status), INSPECT_FINDINGS) << output;
    }
    // Each listed entry names its method: these are deflated.
    if (r.json) {
        EXPECT_NE(output.find("\"method\": \"deflate\"}"), std::string::npos) << output;
    } else if (std::string(r.command) == "list") {
        EXPECT_NE(output.find(" deflate   setup\\"), std::string::npos) << output;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, OutputTest, testing::ValuesIn(OUTPUTS),
                         [](const testing::TestParamInfo<outputrow>& info) { return std::string(info.param.label); });
#endif

} // namespace
