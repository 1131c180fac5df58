// Stamping the setup configuration with the package's own path.
#pragma once

#include "installrun.h"

// Writes the run's package path into path of each source child of the root
// of setup\config.xml in its workspace. False when the stamped configuration
// could not be written over the extracted one while the workspace exists;
// true when it was, or when there was nothing to stamp (no workspace, or a
// configuration that gave no text).
bool setsourcepath(const installrun& run);
