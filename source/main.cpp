// Entry point: publishes the arguments, starts GDI+, and chooses the mode by
// the program's own file size.
#include "modes.h"
#include "splash.h"
#include "startup.h"
#include "stubsize.h"

#include <cstdio>

int main(int argc, char** argv)
{
    limitdllsearch();
    publisharguments(argc, argv);
    startgdiplus();
    loadsplashimages();

    packagepath = argv[0];
    FILE* own = fopen(argv[0], "rb");
    if (!own) {
        printf("Open file failed\n");
        fflush(stdout);
        return -1;
    }
    fseek(own, 0, SEEK_END);
    long size = ftell(own);
    fseek(own, 0, SEEK_SET);

    if (size == long(stubsize())) return buildpackage(own);
    fclose(own);
    return runinstaller(argc, argv);
}
