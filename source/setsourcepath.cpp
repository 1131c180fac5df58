#include "setsourcepath.h"

void setsourcepath() {}
