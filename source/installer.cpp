#include "modes.h"

#include "logline.h"

int runinstaller(int, char**)
{
    logline("main", "runinstaller", 0, "installer mode\n");
    return 0;
}
