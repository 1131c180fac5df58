// Stamping the setup configuration with the package's own path.
#pragma once

// Sets the attribute path of every source child of the root of the
// workspace's setup\config.xml to packagepath (adding a source element when
// there is none) and saves the file in its own encoding; reports nothing.
void setsourcepath();
