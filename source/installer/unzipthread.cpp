#include "installer.h"

#include "dataunzip.h"
#include "entryname.h"
#include "platform.h"
#include "setsourcepath.h"
#include "workspace.h"

#include <cstring>

extractionoutcome extractsetup(const installrun& run)
{
    extractionoutcome outcome;
    // Stays empty when the package cannot be opened at all.
    char computedA[64] = {};
    char computedB[64] = {};
    dataunzip reader;
    const std::string& target = run.workspacedir;
    // Nothing is extracted where the workspace has no narrow name, or where
    // the workspace made for this run is no longer what its name leads to.
    bool usable = !target.empty() && workspaceisheld(run.setupdirw());
    if (usable) {
        // The package as opened at the start, through a handle of the reader's own.
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), run.package.get(), GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        filehandle package(copy ? copy : INVALID_HANDLE_VALUE);
        FILE* stream = crtfile(package, "rb");
        if (stream) reader.unzipfopen(stream, computedA, computedB);
    }
    outcome.opened = computedA[0] != 0;
    bool failed = !outcome.opened;
    uint32_t count = reader.filecount;
    for (uint32_t i = 0; i < count && !failed; ++i) {
        char name[ENTRY_NAME_SIZE] = {};
        int32_t result = reader.readcurfile(name);
        if (result == 0) result = reader.filewrite(name, target.c_str());
        // A file that cannot be created is logged and skipped; any other
        // failed entry stops the extraction.
        if (result != 0 && reader.failure() != ENTRY_CREATE_FAILED)
            failed = true;
        else if (reader.gotonextfile(i) != 0)
            failed = true;
    }
    reader.closeunzipfile();
    // A package that could not be read leaves nothing of its own behind:
    // no workspace, so no configuration and no channel file either.
    if (usable && !outcome.opened) dropemptyworkspace(run.setupdirw());
    if (usable) outcome.stamped = setsourcepath(run);
    outcome.complete = !failed;
    outcome.digestsmatch =
        outcome.opened && memcmp(computedA, reader.digestA, 32) == 0 && memcmp(computedB, reader.digestB, 32) == 0;
    return outcome;
}

DWORD WINAPI unzipthread(LPVOID param)
{
    installwindow* installer = static_cast<installwindow*>(param);
    WPARAM go = HANDOFF_GO;
    {
        extractionoutcome outcome = extractsetup(installer->run);
        if (!outcome.opened || !outcome.complete) {
            MessageBoxW(nullptr, L"Uncompress failed!", L"Warnning", MB_OK);
        } else if (!outcome.digestsmatch) {
            MessageBoxW(nullptr, L"MD5 is uncorrect!", L"Warnning", MB_OK);
        }
        // A setup program whose configuration does not name its package is
        // not started: the install fails, and says so.
        if (!outcome.stamped) {
            refuseworkspace(installer->run, "its configuration cannot be stamped");
            go = HANDOFF_STOP;
        }
    }
    SendMessageW(installer->handle, WM_UNZIPDONE, go, 0);
    return 0;
}
