// Entry point: publishes the arguments and chooses the mode by the program's
// own file size.
#include "handles.h"
#include "logline.h"
#include "modes.h"
#include "startup.h"
#include "stubsize.h"

#include <cstdio>

int main(int argc, char** argv)
{
    limitdllsearch();
    publisharguments(argc, argv);

    stdiofile own(fopen(argv[0], "rb"));
    if (!own) {
        plainline("Open file failed\n");
        return -1;
    }
    fseek(own.get(), 0, SEEK_END);
    long size = ftell(own.get());
    fseek(own.get(), 0, SEEK_SET);

    // The builder takes the open file over; the installer opens its own.
    if (size == long(stubsize())) return buildpackage(own.release());
    own.reset();
    return runinstaller(makeinstallrun(argc, argv));
}
