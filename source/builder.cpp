#include "modes.h"

#include "logline.h"

int buildpackage(FILE* own)
{
    logline("main", "buildpackage", 0, "builder mode\n");
    fclose(own);
    return 0;
}
