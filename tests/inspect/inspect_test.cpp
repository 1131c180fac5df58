// The package inspector over packages made in the test with the builder's
// own format code: archives written by minizip's writer with the builder's
// settings (level 9, no time stamps), the core's sampled digest and trailer
// codec. Each row carries one fault and names the finding it must produce.
#include "namecodec.h"
#include "outputtree.h"
#include "packageinspect.h"

#include "../helpers/rawdeflate.h"

#include "md5digest.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

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

std::string readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writefile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// A seeded pseudo-random byte string: deflate cannot shrink it, so its bytes
// stand in the archive as they are.
std::string noise(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    return out;
}

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

std::string digestof(const std::string& bytes)
{
    char text[33];
    Md5Digest().digestbuffer((const unsigned char*)bytes.data(), int32_t(bytes.size()), text);
    return text;
}

// stub + archive A + archive B + trailer, as the builder lays them out.
std::string makepackage(const std::string& stub, const std::string& a, const std::string& b)
{
    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stub.size());
    trailer.offsetB = uint32_t(stub.size() + a.size());
    memcpy(trailer.digestA, digestof(a).data(), 32);
    memcpy(trailer.digestB, digestof(b).data(), 32);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    return stub + a + b + std::string((const char*)bytes, sizeof bytes);
}

void put32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char(value >> (8 * i));
}

uint32_t get32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | (unsigned char)bytes[at + size_t(i)];
    return value;
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
};

struct row {
    const char* label;
    fault kind;
    const char* name;    // the hostile entry's name, for HOSTILE_ENTRY and HOSTILE_APP_ENTRY
    int verdict;         // INSPECT_
    const char* finding; // text one finding must contain (null: none expected)
};

std::ostream& operator<<(std::ostream& os, const row& r) { return os << r.label; }

const row ROWS[] = {
    {"sound", NONE, nullptr, INSPECT_SOUND, nullptr},
    {"bytes_after_trailer", BYTES_AFTER_TRAILER, nullptr, INSPECT_SOUND, nullptr},
    {"signed", SIGNED, nullptr, INSPECT_SOUND, nullptr},
    {"unsampled_byte_in_entry", UNSAMPLED_BYTE_IN_ENTRY, nullptr, INSPECT_FINDINGS, "CRC-32 mismatch"},
    {"byte_in_archive_b", BYTE_IN_ARCHIVE_B, nullptr, INSPECT_FINDINGS, "archive B: digest mismatch"},
    {"dotdot_backslash", HOSTILE_ENTRY, "setup\\..\\..\\evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"dotdot_forward_slash", HOSTILE_ENTRY, "setup/../../evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"outside_setup", HOSTILE_ENTRY, "evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"drive_prefix", HOSTILE_ENTRY, "setup\\C:\\evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"leading_separator", HOSTILE_ENTRY, "\\setup\\evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"long_name", HOSTILE_ENTRY, "", INSPECT_FINDINGS, "unsafe name"},
    {"device_name", HOSTILE_ENTRY, "setup\\NUL", INSPECT_FINDINGS, "unsafe name"},
    {"device_name_with_extension", HOSTILE_ENTRY, "setup\\COM1.txt", INSPECT_FINDINGS, "unsafe name"},
    {"alternate_data_stream", HOSTILE_ENTRY, "setup\\rEdizo.exe:evil", INSPECT_FINDINGS, "unsafe name"},
    {"trailing_dot", HOSTILE_ENTRY, "setup\\evil.", INSPECT_FINDINGS, "unsafe name"},
    {"trailing_space", HOSTILE_ENTRY, "setup\\evil ", INSPECT_FINDINGS, "unsafe name"},
    {"lead_byte_before_separator", HOSTILE_ENTRY, "setup\\a\x81/../../evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"damaged_data", DAMAGED_ENTRY, nullptr, INSPECT_FINDINGS, "data damaged"},
    {"app_entry_outside_app", HOSTILE_APP_ENTRY, "setup\\evil.txt", INSPECT_FINDINGS, "archive B: setup\\evil.txt"},
    {"app_entry_dotdot", HOSTILE_APP_ENTRY, "app\\..\\evil.txt", INSPECT_FINDINGS, "unsafe name"},
    {"no_setup_program", NO_SETUP_PROGRAM, nullptr, INSPECT_FINDINGS, "setup\\rEdizo.exe missing"},
    {"cut_at_archive_a", CUT_AT_A, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_inside_archive_a", CUT_INSIDE_A, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_at_archive_b", CUT_AT_B, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_at_trailer", CUT_AT_T, nullptr, INSPECT_UNREADABLE, nullptr},
    {"cut_inside_trailer", CUT_INSIDE_TRAILER, nullptr, INSPECT_UNREADABLE, nullptr},
    {"empty_file", EMPTY_FILE, nullptr, INSPECT_UNREADABLE, nullptr},
    {"offset_a_equals_b", OFFSET_A_EQUALS_B, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"offset_b_past_trailer", OFFSET_B_PAST_TRAILER, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"offset_b_before_a", OFFSET_B_BEFORE_A, nullptr, INSPECT_FINDINGS, "trailer offsets invalid"},
    {"directory_claims_more_entries", MORE_ENTRIES, nullptr, INSPECT_FINDINGS, "archive A: the end record announces"},
    {"directory_claims_larger_size", LARGER_SIZE, nullptr, INSPECT_FINDINGS, "archive A: setup\\rEdizo.exe"},
    {"no_archive_a", NO_ARCHIVE_A, nullptr, INSPECT_FINDINGS, "archive A: no ZIP end of central directory"},
};

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
    if (r.kind == NO_SETUP_PROGRAM) a.erase(a.begin());
    std::string stub = pestub();
    std::string archiveA = r.kind == NO_ARCHIVE_A ? noise(5000, 3) : makearchive(dir, a);
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
        if ((line + f.text).find(text) != std::string::npos) return true;
    }
    return false;
}

std::string describe(const std::vector<finding>& findings)
{
    std::string out;
    for (const finding& f : findings)
        out += std::string(1, f.archive ? f.archive : '-') + " " + f.name + ": " + f.text + "\n";
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
    int verdict = opened == INSPECT_UNREADABLE ? opened : inspector.verify(leadbytesof(936), findings);
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
    void end(int result) override { tree.finish(result == ENTRY_OK); }

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
    inspector.readarchive('A', nullptr, &sink, findings);
    inspector.readarchive('B', nullptr, &sink, findings);
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

} // namespace
