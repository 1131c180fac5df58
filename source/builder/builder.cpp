#include "builder.h"

#include "datazip.h"
#include "filelist.h"
#include "handles.h"
#include "iconreplace.h"
#include "logline.h"
#include "md5digest.h"
#include "packagetrailer.h"
#include "pathhelpers.h"

#include <io.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char PACKAGE_NAME[] = "install_test.exe";
const char ARCHIVE_A_NAME[] = "qlib.zip";
const char ARCHIVE_B_NAME[] = "test.zip";
const wchar_t ICON_FILE[] = L"setup/LoaderIcon.ico";
const size_t COPY_BUFFER_SIZE = 0x4000;
// Every position in a package is a signed 32-bit file position.
const uint64_t PACKAGE_LIMIT = 0x80000000u;

HWND showwaitingpopup()
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HWND popup = CreateWindowExW(0, L"static", nullptr, WS_POPUP | WS_VISIBLE | WS_DLGFRAME, width / 2 - 90,
                                 height / 2 - 90, 180, 30, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (popup) SetWindowTextW(popup, L"Waiting ...");
    return popup;
}

// Copies from's remaining bytes to the end of to; copied receives the count.
// False on a read error or a short write.
bool copystream(FILE* from, FILE* to, std::vector<char>& buffer, uint64_t& copied)
{
    copied = 0;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), from)) > 0) {
        if (fwrite(buffer.data(), 1, got, to) != got) return false;
        copied += got;
    }
    return !ferror(from);
}

int64_t streamsize(FILE* stream)
{
    if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
    int64_t size = _ftelli64(stream);
    if (_fseeki64(stream, 0, SEEK_SET) != 0) return -1;
    return size;
}

bool isdirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Checks a tree before anything is compressed: false, with its line, when
// the tree has a loop, two names in one directory that differ only in case
// (Windows would install one file for both) or a file a package cannot hold
// (2 GiB or more).
bool checktree(const char* tree)
{
    for (const treestep& step : filelist::listtree(tree)) {
        if (step.kind == treestep::LOOP) {
            plainline("%s leads back to %s: a tree with a loop cannot be packed!\n", step.path.c_str(),
                      step.again.c_str());
            return false;
        }
        if (step.kind == treestep::CASE_TWIN) {
            plainline("%s differs only in case from %s: a package cannot hold both!\n", step.path.c_str(),
                      step.again.c_str());
            return false;
        }
        if (step.kind == treestep::FILE_ENTRY && step.size >= PACKAGE_LIMIT) {
            plainline("%s is 2 GiB or larger: a package cannot hold it!\n", step.path.c_str());
            return false;
        }
    }
    return true;
}

// Writes archive from the tree. A missing tree gives an archive without
// entries; a tree whose files cannot all be packed whole fails the build.
bool ziptree(datazip& archive, filelist& walker, const std::string& archivepath, const char* tree)
{
    archive.setfilename(archivepath.c_str());
    if (!archive.zipfopen()) return false;
    bool present = isdirectory(tree);
    bool walked = walker.GetAllFileInfoAndZip(tree, archive);
    bool closed = archive.closezipfile();
    if (present && !walked) {
        plainline("Packing %s failed!\n", tree);
        return false;
    }
    return closed;
}

int failed(const char* format, const char* name)
{
    plainline(format, name);
    return -1;
}

int build(FILE* ownfile)
{
    stdiofile own(ownfile);
    std::string workspace = workspacedir();
    if (workspace.empty()) return failed("The temporary directory has no name in the ANSI code page!\n", "");
    std::string archiveA = workspace + ARCHIVE_A_NAME;
    std::string archiveB = workspace + ARCHIVE_B_NAME;
    std::vector<char> buffer(COPY_BUFFER_SIZE);

    stdiofile stub(fopen(PACKAGE_NAME, "wb"));
    if (!stub) return failed("Open %s failed!\n", PACKAGE_NAME);
    windowhandle popup(showwaitingpopup());

    uint64_t copied = 0;
    bool written = copystream(own.get(), stub.get(), buffer, copied);
    if (closechecked(stub) != 0 || !written) return failed("Write %s failed!\n", PACKAGE_NAME);

    replaceicon(ICON_FILE, ansitowide(PACKAGE_NAME).c_str());

    if (!checktree("app") || !checktree("setup")) return -1;

    datazip archive;
    filelist walker;
    if (!ziptree(archive, walker, archiveB, "app")) return failed("Making %s failed!\n", ARCHIVE_B_NAME);
    if (!ziptree(archive, walker, archiveA, "setup")) return failed("Making %s failed!\n", ARCHIVE_A_NAME);

    stdiofile package(fopen(PACKAGE_NAME, "ab+"));
    if (!package) return failed("Open %s failed!\n", PACKAGE_NAME);
    stdiofile zipB(fopen(archiveB.c_str(), "rb"));
    if (!zipB) return failed("fopen %s failed!\n", ARCHIVE_B_NAME);
    stdiofile zipA(fopen(archiveA.c_str(), "rb"));
    if (!zipA) return failed("fopen %s failed!\n", ARCHIVE_A_NAME);

    int64_t stubbytes = streamsize(package.get());
    int64_t sizeA = streamsize(zipA.get());
    int64_t sizeB = streamsize(zipB.get());
    if (stubbytes < 0 || sizeA < 0 || sizeB < 0) return failed("Measuring %s failed!\n", PACKAGE_NAME);
    if (uint64_t(stubbytes) + uint64_t(sizeA) + uint64_t(sizeB) + TRAILER_SIZE >= PACKAGE_LIMIT)
        return failed("%s would reach 2 GiB: not written!\n", PACKAGE_NAME);

    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stubbytes);
    // Appending: every write lands at the end whatever the position says.
    if (!copystream(zipA.get(), package.get(), buffer, copied) || copied != uint64_t(sizeA))
        return failed("Write %s failed!\n", PACKAGE_NAME);
    trailer.offsetB = uint32_t(trailer.offsetA + copied);
    if (!copystream(zipB.get(), package.get(), buffer, copied) || copied != uint64_t(sizeB))
        return failed("Write %s failed!\n", PACKAGE_NAME);

    Md5Digest digest;
    char digestA[64];
    char digestB[64];
    if (digest.digestfile(zipA.get(), digestA) != 0) return failed("Reading %s failed!\n", ARCHIVE_A_NAME);
    if (digest.digestfile(zipB.get(), digestB) != 0) return failed("Reading %s failed!\n", ARCHIVE_B_NAME);
    memcpy(trailer.digestA, digestA, sizeof trailer.digestA);
    memcpy(trailer.digestB, digestB, sizeof trailer.digestB);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    if (fwrite(bytes, 1, TRAILER_SIZE, package.get()) != size_t(TRAILER_SIZE))
        return failed("Write %s failed!\n", PACKAGE_NAME);

    zipB.reset();
    own.reset();
    zipA.reset();
    if (closechecked(package) != 0) return failed("Write %s failed!\n", PACKAGE_NAME);
    popup.reset();
    return 0;
}

} // namespace

int buildpackage(FILE* ownfile)
{
    // Every file of the build is closed when build returns. A program left
    // under the package's name would build again when started, so a failed
    // build leaves no package at all.
    int result = build(ownfile);
    if (result != 0) DeleteFileA(PACKAGE_NAME);
    return result;
}
