// The two roles of the program, chosen by main from its own file size.
#pragma once

#include "installrun.h"

#include <cstdio>

// Builder mode: packs setup and app of the current directory into
// install_test.exe. own is the program's file, open at its start.
// Returns the exit code: 0 when the package is complete, -1 on failure.
int buildpackage(FILE* own);

// Installer mode: clears the previous workspace, runs the installer window
// and its message loop. Returns the exit code, 0.
int runinstaller(const installrun& run);
