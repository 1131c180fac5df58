// Builder mode: the bare program packs the setup and app trees of the
// current directory into a package.
#pragma once

#include <cstdio>

// Packs setup and app of the current directory into install_test.exe. own is
// the program's file, open at its start. Returns the exit code: 0 when the
// package is complete, -1 on failure.
int buildpackage(FILE* own);
