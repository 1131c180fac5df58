// Process start-up: the DLL search, the arguments published for the setup
// program, and GDI+.
#pragma once

#include <cstdint>

// The GDI+ token, passed to GdiplusShutdown when the installer window ends.
extern uintptr_t gdiplustoken;

// Limits the DLL search of every later load to the system directory, so a
// DLL placed beside the package under a system DLL's name is never loaded.
// Does nothing where the system lacks the call.
void limitdllsearch();
// With two or more arguments, publishes argv[1] as "VQNAUTOI" and argv[2] as
// "VQNPATHI" in the process environment (inherited by the setup program).
void publisharguments(int argc, char** argv);
// Starts GDI+ version 1 into gdiplustoken; the result is ignored by callers.
bool startgdiplus();
