#include "installer.h"

#include "dataunzip.h"
#include "pathhelpers.h"
#include "setsourcepath.h"
#include "startup.h"
#include "workspace.h"

#include <cstring>

DWORD WINAPI unzipthread(LPVOID param)
{
    HWND window = static_cast<HWND>(param);
    // Stays empty when the package cannot be opened at all.
    char computedA[64] = {};
    char computedB[64] = {};
    bool failed = false;
    {
        dataunzip reader;
        std::string target = workspacedir();
        // Nothing is extracted where the workspace has no narrow name, or
        // through a workspace that is a link (one that could not be removed).
        bool usable = !target.empty() && workspaceisplain();
        if (usable) reader.unzipfopen(packagepath, computedA, computedB);
        bool opened = computedA[0] != 0;
        failed = !opened;
        uint32_t count = reader.filecount;
        for (uint32_t i = 0; i < count && !failed; ++i) {
            char name[512] = {};
            int32_t result = reader.readcurfile(name);
            if (result == 0) result = reader.filewrite(name, target.c_str());
            // A file that cannot be created is logged and skipped; any other
            // failed entry stops the extraction.
            if (result != 0 && reader.failure() != DATAUNZIP_CREATE_FAILED)
                failed = true;
            else if (reader.gotonextfile(i) != 0)
                failed = true;
        }
        reader.closeunzipfile();
        if (usable) setsourcepath();
        if (failed) {
            MessageBoxW(nullptr, L"Uncompress failed!", L"Warnning", MB_OK);
        } else if (memcmp(computedA, reader.digestA, 32) != 0 || memcmp(computedB, reader.digestB, 32) != 0) {
            MessageBoxW(nullptr, L"MD5 is uncorrect!", L"Warnning", MB_OK);
        }
    }
    SendMessageW(window, WM_UNZIPDONE, 0, 0);
    return 0;
}
