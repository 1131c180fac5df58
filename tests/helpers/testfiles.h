// Whole files read and written by the tests, natively and on Windows: every
// test reads and writes its files through these, directly or through its kit
// (e2e/harness.h, archive/ziptestkit.h).
#pragma once

#include <string>

namespace testfiles {

// The bytes of the file at path; empty when it cannot be opened. A narrow
// path is in the system's narrow encoding (on Windows the ANSI code page).
std::string readfile(const std::string& path);
// Writes bytes as the whole file at path, making its missing parent
// directories first; true when every byte was written and the file closed.
bool writefile(const std::string& path, const std::string& bytes);

#ifdef _WIN32
// readfile for a UTF-16 path.
std::string readfile(const std::wstring& path);
// writefile for a UTF-16 path.
bool writefile(const std::wstring& path, const std::string& bytes);
#endif

} // namespace testfiles
