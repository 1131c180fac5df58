// Entry point: publishes the arguments and chooses the mode by the program's
// own file size.
#include "platform.h"
#include "handles.h"
#include "installrun.h"
#include "logline.h"
#include "modes.h"
#include "startup.h"
#include "stubsize.h"

#include <cstdio>

int main(int argc, char** argv)
{
    limitdllsearch();
    publisharguments(argc, argv);

    // Found by the system, not by argv[0], which may lack the extension or be
    // relative; opened once, and read through this handle only.
    filehandle own = openownfile();
    LARGE_INTEGER size = {};
    if (!own || !GetFileSizeEx(own.get(), &size)) {
        plainline("Open file failed\n");
        return -1;
    }

    // The builder takes the open file over; the installer keeps it for its run.
    if (size.QuadPart == LONGLONG(stubsize())) return buildpackage(crtfile(own, "rb"));
    return runinstaller(makeinstallrun(argc, argv, std::move(own)));
}
