#include "builder.h"

#include "datazip.h"
#include "filelist.h"
#include "handles.h"
#include "iconreplace.h"
#include "logline.h"
#include "md5digest.h"
#include "packagerules.h"
#include "packagetrailer.h"
#include "pathhelpers.h"

#include <io.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const size_t COPY_BUFFER_SIZE = 0x4000;

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

// The builder's line for what it refuses: "<path> <why>!".
void sayrefused(const char* path, int rule, const std::string& detail = std::string())
{
    plainline("%s %s!\n", path, refusalwhy(TOOL_BUILDER, rule, detail).c_str());
}

// Checks a tree before anything is compressed: false, with its line, when
// the tree holds something the builder refuses (packagerules.h: a loop, two
// names in one directory that differ only in case, a file of 2 GiB or more).
bool checktree(const char* tree)
{
    std::vector<treestep> steps = filelist::listtree(tree);
    const treestep* refused = firstrefused(steps, TOOL_BUILDER);
    if (!refused) return true;
    sayrefused(refused->path.c_str(), brokenrule(*refused), refused->again);
    return false;
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
    std::string archiveA = workspace + PACKAGE_ARCHIVE_A_FILE;
    std::string archiveB = workspace + PACKAGE_ARCHIVE_B_FILE;
    std::vector<char> buffer(COPY_BUFFER_SIZE);

    stdiofile stub(fopen(PACKAGE_FILE_NAME, "wb"));
    if (!stub) return failed("Open %s failed!\n", PACKAGE_FILE_NAME);
    windowhandle popup(showwaitingpopup());

    uint64_t copied = 0;
    bool written = copystream(own.get(), stub.get(), buffer, copied);
    if (closechecked(stub) != 0 || !written) return failed("Write %s failed!\n", PACKAGE_FILE_NAME);

    std::string icon = std::string(PACKAGE_SETUP_TREE) + "/" + PACKAGE_ICON_FILE;
    replaceicon(ansitowide(icon).c_str(), ansitowide(PACKAGE_FILE_NAME).c_str());

    if (!checktree(PACKAGE_APP_TREE) || !checktree(PACKAGE_SETUP_TREE)) return -1;

    datazip archive;
    filelist walker;
    if (!ziptree(archive, walker, archiveB, PACKAGE_APP_TREE))
        return failed("Making %s failed!\n", PACKAGE_ARCHIVE_B_FILE);
    if (!ziptree(archive, walker, archiveA, PACKAGE_SETUP_TREE))
        return failed("Making %s failed!\n", PACKAGE_ARCHIVE_A_FILE);

    stdiofile package(fopen(PACKAGE_FILE_NAME, "ab+"));
    if (!package) return failed("Open %s failed!\n", PACKAGE_FILE_NAME);
    stdiofile zipB(fopen(archiveB.c_str(), "rb"));
    if (!zipB) return failed("fopen %s failed!\n", PACKAGE_ARCHIVE_B_FILE);
    stdiofile zipA(fopen(archiveA.c_str(), "rb"));
    if (!zipA) return failed("fopen %s failed!\n", PACKAGE_ARCHIVE_A_FILE);

    int64_t stubbytes = streamsize(package.get());
    int64_t sizeA = streamsize(zipA.get());
    int64_t sizeB = streamsize(zipB.get());
    if (stubbytes < 0 || sizeA < 0 || sizeB < 0) return failed("Measuring %s failed!\n", PACKAGE_FILE_NAME);
    if (uint64_t(stubbytes) + uint64_t(sizeA) + uint64_t(sizeB) + TRAILER_SIZE >= PACKAGE_SIZE_LIMIT) {
        sayrefused(PACKAGE_FILE_NAME, RULE_PACKAGE_SIZE);
        return -1;
    }

    PackageTrailer trailer;
    trailer.offsetA = uint32_t(stubbytes);
    // Appending: every write lands at the end whatever the position says.
    if (!copystream(zipA.get(), package.get(), buffer, copied) || copied != uint64_t(sizeA))
        return failed("Write %s failed!\n", PACKAGE_FILE_NAME);
    trailer.offsetB = uint32_t(trailer.offsetA + copied);
    if (!copystream(zipB.get(), package.get(), buffer, copied) || copied != uint64_t(sizeB))
        return failed("Write %s failed!\n", PACKAGE_FILE_NAME);

    Md5Digest digest;
    char digestA[64];
    char digestB[64];
    if (digest.digestfile(zipA.get(), digestA) != 0) return failed("Reading %s failed!\n", PACKAGE_ARCHIVE_A_FILE);
    if (digest.digestfile(zipB.get(), digestB) != 0) return failed("Reading %s failed!\n", PACKAGE_ARCHIVE_B_FILE);
    memcpy(trailer.digestA, digestA, sizeof trailer.digestA);
    memcpy(trailer.digestB, digestB, sizeof trailer.digestB);
    unsigned char bytes[TRAILER_SIZE];
    encodetrailer(trailer, bytes);
    if (fwrite(bytes, 1, TRAILER_SIZE, package.get()) != size_t(TRAILER_SIZE))
        return failed("Write %s failed!\n", PACKAGE_FILE_NAME);

    zipB.reset();
    own.reset();
    zipA.reset();
    if (closechecked(package) != 0) return failed("Write %s failed!\n", PACKAGE_FILE_NAME);
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
    if (result != 0) DeleteFileA(PACKAGE_FILE_NAME);
    return result;
}
