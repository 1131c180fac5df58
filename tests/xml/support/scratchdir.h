// Where the XML tests write files: a directory of this test program's own.
#pragma once

#include <string>

// A new directory below the system's temporary directory, made on first use
// and removed with everything in it when the program ends; ends with '/'.
const std::string& scratchDirectory();
// The same as UTF-16, for the component's wide-path functions.
std::u16string scratchDirectory16();
