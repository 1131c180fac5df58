// The native packer: the package the builder writes, from any POSIX host.
//   pack [--stub BARE] [--codepage N] [--threads N] [--method deflate|lzma] SOURCE OUTPUT
// SOURCE holds setup/ (with setup/rEdizo.exe and setup/LoaderIcon.ico) and
// optionally app/. OUTPUT is written through a temporary file beside it and
// renamed into place only when the package is complete.
#include "archivewriter.h"
#include "bytes.h"
#include "icofile.h"
#include "md5digest.h"
#include "namecodec.h"
#include "owners.h"
#include "packagerules.h"
#include "packagetrailer.h"
#include "packwalk.h"
#include "peresource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef BOOTSTRAP_DEFAULT_STUB
#define BOOTSTRAP_DEFAULT_STUB "bootstrap.exe"
#endif

namespace {

const int USAGE = 2;
const int FAILED = 1;
const uint64_t STUB_LIMIT = 64u << 20;
// The builder's choice when the names leave ASCII: Chinese first.
const int CANDIDATES[] = {936, 1252, 932, 949, 950, 1251, 1250};
const size_t COPY_PIECE = 1 << 20;

int usage()
{
    fprintf(stderr,
            "usage: pack [--stub BARE] [--codepage N] [--threads N] [--method deflate|lzma] SOURCE OUTPUT\n"
            "  SOURCE holds setup/ (with setup/rEdizo.exe and setup/LoaderIcon.ico) and optionally app/.\n"
            "  --stub BARE    the bare 32-bit program (default %s)\n"
            "  --codepage N   the ANSI code page names are stored in (default: 1252 for ASCII names,\n"
            "                 otherwise the first of 936 1252 932 949 950 1251 1250 that holds them all)\n"
            "  --threads N    compressing threads (default: one per core)\n"
            "  --method M     archive A's entries: deflate (default, the builder's bytes) or lzma (ZIP\n"
            "                 method 14, deflate for a file LZMA does not make smaller); archive B is\n"
            "                 deflate either way\n",
            BOOTSTRAP_DEFAULT_STUB);
    return USAGE;
}

int refuse(const std::string& message)
{
    fprintf(stderr, "pack: %s\n", message.c_str());
    return FAILED;
}

// Refuses path for what breaks rule (packagerules.h).
int refuse(const std::string& path, int rule) { return refuse(path + ": " + refusalwhy(TOOL_PACKER, rule)); }

bool readwhole(const std::string& path, uint64_t limit, std::string& out)
{
    stdiofile file(fopen(path.c_str(), "rb"));
    if (!file) return false;
    out.clear();
    char piece[65536];
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file.get())) > 0) {
        out.append(piece, got);
        if (out.size() > limit) return false;
    }
    return !ferror(file.get());
}

// The program with the icon file's images, as the builder's icon
// replacement leaves it: a missing or damaged icon file keeps the program's
// own icon, with the builder's line.
bool puticon(const std::string& iconpath, std::string& program, std::string& message)
{
    stdiofile icon(fopen(iconpath.c_str(), "rb"));
    if (!icon) {
        printf("Open IconFile Failed!\n");
        return true;
    }
    // Only the directory and the images it names are read, as the builder
    // reads them: the directory check bounds what is held.
    long filesize = fseek(icon.get(), 0, SEEK_END) == 0 ? ftell(icon.get()) : -1;
    unsigned char header[ICON_HEADER_SIZE];
    std::vector<unsigned char> directory;
    if (filesize >= long(ICON_HEADER_SIZE) && readat(icon.get(), 0, header, ICON_HEADER_SIZE)) {
        directory.resize(std::min<size_t>(icondirectorysize(iconcount(header)), size_t(filesize)));
        if (!readat(icon.get(), 0, directory.data(), directory.size())) directory.clear();
    }
    std::vector<iconentry> entries;
    int read = readicondirectory(directory.data(), directory.size(), filesize < 0 ? 0 : uint64_t(filesize), entries);
    if (read != ICON_OK) {
        printf("IconFile is not a complete icon file (%s)!\n", iconresulttext(read));
        return true;
    }
    std::vector<std::string> images;
    for (const iconentry& e : entries) {
        std::string image(e.size, '\0');
        if (!readat(icon.get(), long(e.offset), reinterpret_cast<unsigned char*>(&image[0]), e.size)) {
            printf("IconFile could not be read!\n");
            return true;
        }
        images.push_back(std::move(image));
    }
    std::string rewritten;
    int result = replaceiconimages(program, images, rewritten);
    if (result != PE_OK) {
        message = std::string("the bare program's resources cannot take the icon: ") + peresulttext(result);
        return false;
    }
    program.swap(rewritten);
    return true;
}

// Walks both trees in the code page asked for or, with 0, in the first
// candidate that holds every name.
bool walkboth(const std::string& source, int& codepage, std::vector<packfile>& setup, std::vector<packfile>& app,
              std::string& message)
{
    std::vector<int> tries;
    if (codepage != 0) {
        tries.push_back(codepage);
    } else {
        tries.push_back(1252);
        for (int candidate : CANDIDATES) tries.push_back(candidate);
    }
    std::string first;
    for (size_t i = 0; i < tries.size(); ++i) {
        setup.clear();
        app.clear();
        int result = walktree(source, PACKAGE_SETUP_TREE, tries[i], setup, message);
        if (result == WALK_OK) result = walktree(source, PACKAGE_APP_TREE, tries[i], app, message);
        if (result == WALK_REFUSED) return false;
        if (result == WALK_OK) {
            bool ascii = true;
            for (const std::vector<packfile>* tree : {&setup, &app})
                for (const packfile& f : *tree)
                    for (unsigned char c : f.name) ascii = ascii && c < 0x80;
            // 1252 is tried first only for plain names.
            if (codepage != 0 || i > 0 || ascii) {
                codepage = tries[i];
                return true;
            }
        }
        if (first.empty()) first = message;
    }
    message = first;
    return false;
}

// The sampled digest of a finished archive file.
bool digestof(const std::string& path, char out[64])
{
    stdiofile file(fopen(path.c_str(), "rb"));
    Md5Digest digest;
    return file && digest.digestfile(file.get(), out) == 0;
}

bool append(FILE* to, const std::string& path, uint64_t& copied)
{
    stdiofile from(fopen(path.c_str(), "rb"));
    if (!from) return false;
    std::vector<char> piece(COPY_PIECE);
    size_t got;
    copied = 0;
    while ((got = fread(piece.data(), 1, piece.size(), from.get())) > 0) {
        if (fwrite(piece.data(), 1, got, to) != got) return false;
        copied += got;
    }
    return !ferror(from.get());
}

// Removes the temporary files of a run, whatever way it ends.
struct scratchfiles {
    std::vector<std::string> paths;
    ~scratchfiles()
    {
        for (const std::string& path : paths) unlink(path.c_str());
    }
    std::string make(const std::string& pattern)
    {
        std::string path = pattern + "XXXXXX";
        int fd = mkstemp(&path[0]);
        if (fd < 0) return std::string();
        close(fd);
        paths.push_back(path);
        return path;
    }
};

unsigned defaultthreads()
{
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? unsigned(cores) : 1;
}

int pack(const std::string& stubpath, int codepage, unsigned threads, archivemethod method, const std::string& source,
         const std::string& output)
{
    struct stat status;
    const std::string setuptree = source + "/" + PACKAGE_SETUP_TREE;
    const std::string setupprogram = setuptree + "/" + PACKAGE_SETUP_PROGRAM_FILE;
    if (stat(setuptree.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return refuse(setuptree, RULE_NO_SETUP_TREE);
    if (stat(setupprogram.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return refuse(setupprogram, RULE_NO_SETUP_PROGRAM);
    if (stat(output.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return refuse(output + ": is a directory");

    std::string message;
    std::vector<packfile> setup;
    std::vector<packfile> app;
    if (!walkboth(source, codepage, setup, app, message)) return refuse(message);

    std::string program;
    if (!readwhole(stubpath, STUB_LIMIT, program)) return refuse(stubpath + ": the bare program cannot be read");
    if (!puticon(setuptree + "/" + PACKAGE_ICON_FILE, program, message)) return refuse(stubpath + ": " + message);

    size_t slash = output.find_last_of('/');
    std::string directory = slash == std::string::npos ? std::string(".") : output.substr(0, slash);
    std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
    scratchfiles scratch;
    std::string archiveA = scratch.make(directory + "/." + base + ".setup.");
    std::string archiveB = scratch.make(directory + "/." + base + ".app.");
    std::string partial = scratch.make(directory + "/." + base + ".");
    if (archiveA.empty() || archiveB.empty() || partial.empty())
        return refuse(output + ": cannot write beside it: " + strerror(errno));

    if (!writearchive(archiveA, source, setup, threads, message, archivelimits(), method)) return refuse(message);
    if (!writearchive(archiveB, source, app, threads, message)) return refuse(message);

    stdiofile package(fopen(partial.c_str(), "wb"));
    if (!package) return refuse(partial + ": " + strerror(errno));
    PackageTrailer trailer;
    trailer.offsetA = uint32_t(program.size());
    uint64_t sizeA = 0;
    uint64_t sizeB = 0;
    bool written = fwrite(program.data(), 1, program.size(), package.get()) == program.size() &&
                   append(package.get(), archiveA, sizeA) && append(package.get(), archiveB, sizeB);
    if (!written) return refuse(output + ": writing the package failed");
    if (program.size() + sizeA + sizeB + TRAILER_SIZE >= PACKAGE_SIZE_LIMIT) return refuse(output, RULE_PACKAGE_SIZE);
    trailer.offsetB = uint32_t(program.size() + sizeA);
    char digestA[64];
    char digestB[64];
    if (!digestof(archiveA, digestA) || !digestof(archiveB, digestB))
        return refuse(output + ": reading the archives back failed");
    memcpy(trailer.digestA, digestA, sizeof trailer.digestA);
    memcpy(trailer.digestB, digestB, sizeof trailer.digestB);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    if (fwrite(bytes, 1, TRAILER_SIZE, package.get()) != size_t(TRAILER_SIZE) || closechecked(package) != 0)
        return refuse(output + ": writing the package failed");
    // A package runs as it is: executable like the bare program.
    chmod(partial.c_str(), 0755);
    if (rename(partial.c_str(), output.c_str()) != 0) return refuse(output + ": " + strerror(errno));
    printf("pack: wrote %s (code page %d, %zu + %zu files, %llu bytes)\n", output.c_str(), codepage, setup.size(),
           app.size(), (unsigned long long)(program.size() + sizeA + sizeB + TRAILER_SIZE));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string stub = BOOTSTRAP_DEFAULT_STUB;
    int codepage = 0;
    unsigned threads = defaultthreads();
    archivemethod method = ARCHIVE_DEFLATE;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--stub" && i + 1 < argc) {
            stub = argv[++i];
        } else if (arg == "--codepage" && i + 1 < argc) {
            codepage = atoi(argv[++i]);
            if (!knowncodepage(codepage)) {
                fprintf(stderr, "pack: code page %s is not supported\n", argv[i]);
                return USAGE;
            }
        } else if (arg == "--threads" && i + 1 < argc) {
            int count = atoi(argv[++i]);
            if (count < 1 || count > 256) return usage();
            threads = unsigned(count);
        } else if (arg == "--method" && i + 1 < argc) {
            std::string name = argv[++i];
            if (name != "deflate" && name != "lzma") return usage();
            method = name == "lzma" ? ARCHIVE_LZMA : ARCHIVE_DEFLATE;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage();
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return usage();
    return pack(stub, codepage, threads, method, positional[0], positional[1]);
}
