// Stamping the setup configuration with the package's own path.
#pragma once

// Writes packagepath into path of each source child of the root of setup\config.xml; returns nothing.
void setsourcepath();
