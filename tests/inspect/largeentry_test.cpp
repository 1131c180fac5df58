// An entry of 5 GiB through the inspector: its size only fits 64 bits, and
// a reader that kept 32 of them would take it for 1 GiB. The entry is zeros,
// deflated once per MiB with a full flush, so its stream is one short piece
// repeated and the package stays at a few MB in the test's temporary
// directory; the entry itself is never written to disk.
#include "packageinspect.h"

#include "md5digest.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const uint64_t MIB = 1u << 20;
const uint64_t LARGE = 5ull << 30;
const char LARGE_NAME[] = "setup\\large.bin";

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

// One MiB of zeros as a raw deflate piece ending in a full flush: the
// compressor starts afresh after it, so the piece may follow itself.
std::string zeropiece(z_stream& stream)
{
    std::vector<unsigned char> zeros(MIB, 0);
    std::string out(MIB, '\0');
    stream.next_in = zeros.data();
    stream.avail_in = unsigned(zeros.size());
    stream.next_out = reinterpret_cast<unsigned char*>(&out[0]);
    stream.avail_out = unsigned(out.size());
    EXPECT_EQ(deflate(&stream, Z_FULL_FLUSH), Z_OK);
    EXPECT_EQ(stream.avail_in, 0u);
    out.resize(out.size() - stream.avail_out);
    return out;
}

// Archive A: the setup program, then LARGE zeros in a zip64 entry.
std::string largearchive(const std::string& path)
{
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string piece = zeropiece(stream);
    EXPECT_EQ(zeropiece(stream), piece) << "a piece after a full flush is the same bytes";
    unsigned char last[16];
    stream.next_in = nullptr;
    stream.avail_in = 0;
    stream.next_out = last;
    stream.avail_out = sizeof last;
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    std::string end(reinterpret_cast<char*>(last), sizeof last - stream.avail_out);
    deflateEnd(&stream);

    std::vector<unsigned char> zeros(MIB, 0);
    uLong pieceCrc = crc32(0, zeros.data(), uInt(MIB));
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t done = 0; done < LARGE; done += MIB) crc = crc32_combine64(crc, pieceCrc, z_off64_t(MIB));

    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    const std::string program = "MZ" + std::string(3000, 'p');
    EXPECT_EQ(zipOpenNewFileInZip(zip, "setup\\rEdizo.exe", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9),
              ZIP_OK);
    zipWriteInFileInZip(zip, program.data(), unsigned(program.size()));
    zipCloseFileInZip(zip);
    EXPECT_EQ(zipOpenNewFileInZip3_64(zip, LARGE_NAME, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 9, 1,
                                      -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 1),
              ZIP_OK);
    for (uint64_t done = 0; done < LARGE; done += MIB)
        EXPECT_EQ(zipWriteInFileInZip(zip, piece.data(), unsigned(piece.size())), ZIP_OK);
    zipWriteInFileInZip(zip, end.data(), unsigned(end.size()));
    EXPECT_EQ(zipCloseFileInZipRaw64(zip, LARGE, crc), ZIP_OK);
    zipClose(zip, nullptr);
    return readfile(path);
}

uint16_t get16(const std::string& bytes, size_t at)
{
    return uint16_t((unsigned char)bytes[at] | (unsigned char)bytes[at + 1] << 8);
}

// The archive with the entry's 64-bit size in its central record set to
// size: the zip64 extra field holds it.
std::string withrecordedsize(std::string archive, uint64_t size)
{
    size_t at = archive.rfind(std::string("PK\x01\x02", 4));
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(archive.compare(at + 46, sizeof LARGE_NAME - 1, LARGE_NAME), 0);
    EXPECT_EQ(archive.compare(at + 24, 4, "\xFF\xFF\xFF\xFF"), 0) << "the size stands in the zip64 field";
    size_t extra = at + 46 + get16(archive, at + 28);
    size_t extraend = extra + get16(archive, at + 30);
    while (extra + 4 <= extraend && get16(archive, extra) != 1) extra += 4 + get16(archive, extra + 2);
    EXPECT_LT(extra + 12, extraend + 1) << "a zip64 extra field";
    for (int i = 0; i < 8; ++i) archive[extra + 4 + size_t(i)] = char(size >> (8 * i));
    return archive;
}

std::string digestof(const std::string& bytes)
{
    char text[64];
    Md5Digest().digestbuffer(reinterpret_cast<const unsigned char*>(bytes.data()), int32_t(bytes.size()), text);
    return std::string(text, 32);
}

std::string makepackage(const std::string& a)
{
    // An archive without entries: its end record alone.
    const std::string b = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    const std::string stub = "MZ" + std::string(1022, '\0');
    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stub.size());
    trailer.offsetB = uint32_t(stub.size() + a.size());
    memcpy(trailer.digestA, digestof(a).data(), 32);
    memcpy(trailer.digestB, digestof(b).data(), 32);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    return stub + a + b + std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
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
    const std::string archive = largearchive(archivepath);
    remove(archivepath.c_str());
    ASSERT_LT(archive.size(), 16 * MIB);

    writefile(packagepath, makepackage(archive));
    std::vector<finding> findings;
    uint64_t listed = 0;
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_SOUND) << describe(findings);
    EXPECT_EQ(listed, LARGE);

    // The size a 32-bit reader would see: the same low 32 bits.
    writefile(packagepath, makepackage(withrecordedsize(archive, LARGE & 0xFFFFFFFFu)));
    findings.clear();
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_FINDINGS);
    EXPECT_EQ(listed, LARGE & 0xFFFFFFFFu);
    ASSERT_EQ(findings.size(), 1u) << describe(findings);
    EXPECT_EQ(findings[0].name, LARGE_NAME);

    // One byte more than the data hold.
    writefile(packagepath, makepackage(withrecordedsize(archive, LARGE + 1)));
    findings.clear();
    EXPECT_EQ(verifyfile(packagepath, findings, listed), INSPECT_FINDINGS);
    ASSERT_EQ(findings.size(), 1u) << describe(findings);
    EXPECT_EQ(findings[0].text, "size mismatch (recorded " + std::to_string(LARGE + 1) + " bytes)");
}

} // namespace
