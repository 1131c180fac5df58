// Stamping the setup configuration with the package's own path.
#pragma once

#include "installrun.h"

// Writes the run's package path into path of each source child of the root
// of setup\config.xml in its workspace; returns nothing.
void setsourcepath(const installrun& run);
