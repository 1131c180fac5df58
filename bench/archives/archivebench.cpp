// Archive layer benchmark.
//   archivebench write <corpus dir> <package>   zip <corpus>\setup as archive A, build a package
//   archivebench big <package> <MiB>            a package whose archive A holds one entry of MiB
//   archivebench read <package> <target dir> [pieces]
//                                                extract archive A with the worker's loop,
//                                                inflating ahead into that many pieces (0: not ahead)
//   archivebench profile <archive.zip> <dir>     where extraction time goes: inflate alone,
//                                                creating the files empty, creating and
//                                                writing them (bytes not inflated)
// Each run prints its throughput; read also prints the process's peak memory,
// which must stay flat however large the archive or its entries are.
#include "dataunzip.h"
#include "datazip.h"
#include "filelist.h"
#include "md5digest.h"
#include "packagetrailer.h"

#include <windows.h>
#include <psapi.h>
#include <unzip.h>
#include <zip.h>

#include <direct.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

long long filesize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

unsigned long long treesize(const std::string& dir)
{
    unsigned long long total = 0;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += treesize(dir + "\\" + name);
        else
            total += (unsigned long long)found.nFileSizeHigh << 32 | found.nFileSizeLow;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return total;
}

bool append(FILE* out, const std::string& path)
{
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) return false;
    std::vector<char> piece(1 << 20);
    size_t got;
    bool ok = true;
    while ((got = fread(piece.data(), 1, piece.size(), in)) > 0) ok = ok && fwrite(piece.data(), 1, got, out) == got;
    fclose(in);
    return ok;
}

// stub + archive A (from a file) + the empty archive B + trailer.
bool buildpackage(const std::string& archive, const std::string& package)
{
    FILE* out = fopen(package.c_str(), "wb");
    if (!out) return false;
    std::string stub(2 << 20, '\0');
    stub[0] = 'M';
    stub[1] = 'Z';
    for (size_t i = 2; i < stub.size(); ++i) stub[i] = char(i * 2654435761u >> 24);
    static const char EMPTY[22] = {'P', 'K', 5, 6};
    bool ok = fwrite(stub.data(), 1, stub.size(), out) == stub.size() && append(out, archive) &&
              fwrite(EMPTY, 1, sizeof EMPTY, out) == sizeof EMPTY;
    ok = fclose(out) == 0 && ok;
    long long size = filesize(package);
    if (!ok || size < 0 || size > 0x7fffffffll - 81) return false;

    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stub.size());
    trailer.offsetB = uint32_t(size - sizeof EMPTY);
    FILE* in = fopen(package.c_str(), "rb");
    char da[33], db[33];
    Md5Digest a, b;
    ok = in && a.digestregion(in, int32_t(trailer.offsetA), int32_t(trailer.offsetB - trailer.offsetA), da) == 0 &&
         b.digestregion(in, int32_t(trailer.offsetB), int32_t(sizeof EMPTY), db) == 0;
    if (in) fclose(in);
    if (!ok) return false;
    memcpy(trailer.digestA, da, 32);
    memcpy(trailer.digestB, db, 32);
    unsigned char bytes[81];
    encodetrailer(trailer, bytes);
    out = fopen(package.c_str(), "ab");
    ok = out && fwrite(bytes, 1, sizeof bytes, out) == sizeof bytes;
    return out && fclose(out) == 0 && ok;
}

int writecorpus(const std::string& corpus, const std::string& package)
{
    std::string archive = package + ".qlib.zip";
    char* here = _getcwd(nullptr, 0);
    if (_chdir(corpus.c_str()) != 0) return 1;
    // The walk logs two lines per file; they are not part of the measurement.
    FILE* quiet = freopen("NUL", "w", stdout);
    double start = seconds();
    datazip zip(archive.c_str());
    bool ok = zip.zipfopen() && filelist().GetAllFileInfoAndZip("setup", zip);
    ok = zip.closezipfile() && ok;
    double elapsed = seconds() - start;
    if (quiet) freopen("CONOUT$", "w", stdout);
    _chdir(here);
    free(here);
    if (!ok) {
        fprintf(stderr, "zipping failed\n");
        return 1;
    }
    if (!buildpackage(archive, package)) return 1;
    long long size = filesize(archive);
    unsigned long long input = treesize(corpus + "\\setup");
    fprintf(stderr, "write: %.1f MiB into archive A of %.1f MiB in %.2f s = %.1f MB/s\n", input / 1048576.0,
            size / 1048576.0, elapsed, input / 1e6 / elapsed);
    remove(archive.c_str());
    return 0;
}

int writebig(const std::string& package, int mebibytes)
{
    std::string archive = package + ".qlib.zip";
    zipFile zip = zipOpen(archive.c_str(), APPEND_STATUS_CREATE);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    // Level 1 keeps generating a gigabyte short; the reader does not care.
    if (!zip ||
        zipOpenNewFileInZip(zip, "setup\\big.bin", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1) != ZIP_OK)
        return 1;
    std::string piece(1 << 20, '\0');
    uint32_t x = 12345;
    for (int m = 0; m < mebibytes; ++m) {
        // Text-like bytes: a short alphabet, not a repeated block.
        for (char& c : piece) {
            x = x * 1103515245u + 12345u;
            c = "abcdefghij \r\n<>=\"0123"[(x >> 16) % 20];
        }
        if (zipWriteInFileInZip(zip, piece.data(), unsigned(piece.size())) != ZIP_OK) return 1;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK || zipClose(zip, nullptr) != ZIP_OK) return 1;
    bool ok = buildpackage(archive, package);
    remove(archive.c_str());
    fprintf(stderr, "big: one entry of %d MiB, package %.1f MiB\n", mebibytes, filesize(package) / 1048576.0);
    return ok ? 0 : 1;
}

int read(const std::string& package, const std::string& target, int pieces)
{
    _mkdir(target.c_str());
    SetEnvironmentVariableA("TMP", target.c_str());
    std::string workspace = target + "\\";
    FILE* quiet = freopen("NUL", "w", stdout);
    double start = seconds();
    char da[64], db[64];
    dataunzip reader;
    if (pieces >= 0) reader.setreadahead(size_t(pieces), DATAUNZIP_PIECE_SIZE);
    reader.unzipfopen(package.c_str(), da, db);
    uint32_t count = reader.filecount;
    unsigned long long bytes = 0;
    int32_t failedat = -1;
    for (uint32_t i = 0; i < reader.filecount; ++i) {
        char name[512];
        int32_t rc = reader.readcurfile(name);
        if (rc == 0) rc = reader.filewrite(name, workspace.c_str());
        if (rc == 0) {
            long long size = filesize(workspace + name);
            if (size > 0) bytes += (unsigned long long)size;
        }
        if (rc != 0 || reader.gotonextfile(i) != 0) {
            failedat = int32_t(i);
            break;
        }
    }
    reader.closeunzipfile();
    double elapsed = seconds() - start;
    if (quiet) freopen("CONOUT$", "w", stdout);

    PROCESS_MEMORY_COUNTERS memory;
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    fprintf(stderr,
            "read: %u entries, %.1f MiB in %.2f s = %.1f MB/s; peak working set %.1f MiB, peak pagefile %.1f MiB%s\n",
            count, bytes / 1048576.0, elapsed, bytes / 1e6 / elapsed, memory.PeakWorkingSetSize / 1048576.0,
            memory.PeakPagefileUsage / 1048576.0, failedat >= 0 ? " (FAILED)" : "");
    return failedat >= 0 || count == 0 ? 1 : 0;
}

// Directories of name below root, made once each.
void makeparents(const std::string& root, const std::string& name, std::vector<std::string>& made)
{
    for (size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 1)) {
        std::string dir = root + "\\" + name.substr(0, at);
        bool known = false;
        for (const std::string& m : made) known = known || m == dir;
        if (known) continue;
        _mkdir(dir.c_str());
        made.push_back(dir);
    }
}

int profile(const std::string& archive, const std::string& target)
{
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip) return 1;
    struct item {
        std::string name;
        unsigned long size;
    };
    std::vector<item> items;
    std::vector<char> piece(65536);
    unsigned long long total = 0;
    double start = seconds();
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[512];
        unz_file_info info;
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) return 1;
        if (unzOpenCurrentFile(zip) != UNZ_OK) return 1;
        while (unzReadCurrentFile(zip, piece.data(), unsigned(piece.size())) > 0) {}
        if (unzCloseCurrentFile(zip) != UNZ_OK) return 1;
        items.push_back({name, info.uncompressed_size});
        total += info.uncompressed_size;
    }
    double inflating = seconds() - start;
    unzClose(zip);

    std::string empty = target + "\\empty", full = target + "\\full";
    _mkdir(target.c_str());
    _mkdir(empty.c_str());
    _mkdir(full.c_str());
    std::vector<std::string> made;
    start = seconds();
    for (const item& i : items) makeparents(empty, i.name, made);
    double directories = seconds() - start;
    start = seconds();
    for (const item& i : items) {
        FILE* f = fopen((empty + "\\" + i.name).c_str(), "wb");
        if (!f || fclose(f) != 0) return 1;
    }
    double creating = seconds() - start;
    made.clear();
    for (const item& i : items) makeparents(full, i.name, made);
    start = seconds();
    for (const item& i : items) {
        FILE* f = fopen((full + "\\" + i.name).c_str(), "wb");
        if (!f) return 1;
        for (unsigned long done = 0; done < i.size; done += (unsigned long)piece.size()) {
            size_t n = i.size - done < piece.size() ? i.size - done : piece.size();
            if (fwrite(piece.data(), 1, n, f) != n) return 1;
        }
        if (fclose(f) != 0) return 1;
    }
    double writing = seconds() - start;
    fprintf(stderr,
            "profile: %zu entries, %.1f MiB: inflate %.3f s, directories %.3f s, create empty files %.3f s, "
            "create and write %.3f s (write alone %.3f s)\n",
            items.size(), total / 1048576.0, inflating, directories, creating, writing, writing - creating);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 4) return writecorpus(argv[2], argv[3]);
    if (mode == "big" && argc == 4) return writebig(argv[2], atoi(argv[3]));
    if (mode == "read" && (argc == 4 || argc == 5)) return read(argv[2], argv[3], argc == 5 ? atoi(argv[4]) : -1);
    if (mode == "profile" && argc == 4) return profile(argv[2], argv[3]);
    fprintf(stderr, "usage: archivebench write <corpus dir> <package> | big <package> <MiB> | read <package> <target "
                    "dir> [pieces] | "
                    "profile <archive.zip> <target dir>\n");
    return 2;
}
