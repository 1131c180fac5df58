// Process start-up: the DLL search, the arguments published for the setup
// program, and GDI+.
#pragma once

#include <cstdint>

// The GDI+ token, passed to GdiplusShutdown when the installer window ends.
extern uintptr_t gdiplustoken;

// Limits the DLL search of every later load to the system directory, so a
// DLL placed beside the package under a system DLL's name is never loaded.
// Where the system lacks that call (Windows XP, Vista, 7 without its DLL
// search update), the package's own directory would still be searched first:
// there the DLLs loaded by name later are loaded now from the system
// (preloadsystemdlls). GDI+ is bound to the system's side-by-side copy by
// the program's manifest on every version.
void limitdllsearch();
// Loads, by full path from the system directory, the DLLs that the window
// code loads by name later (theming, desktop composition), where present; a
// later load by name then finds the module already loaded.
void preloadsystemdlls();
// With two or more arguments, publishes argv[1] as "VQNAUTOI" and argv[2] as
// "VQNPATHI" in the process environment (inherited by the setup program).
void publisharguments(int argc, char** argv);
// Starts GDI+ version 1 into gdiplustoken; the result is ignored by callers.
bool startgdiplus();
