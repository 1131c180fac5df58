// Entry names are bytes in the builder's ANSI code page: which bytes start a
// double-byte character there, and the names as UTF-8 for people and for
// the file system. The packer names entries with it, the inspector reads
// them back with it.
#pragma once

#include "entryname.h"

#include <string>
#include <vector>

// The lead-byte test of a code page: null for a single-byte one. Known
// double-byte pages: 932, 936, 949, 950.
leadbytetest leadbytesof(int codepage);

// The code points of UTF-8 text into out; false when it is not valid UTF-8
// (also overlong forms, surrogates and code points past U+10FFFF).
bool decodeutf8(const std::string& text, std::u32string& out);

// True when the code page is one the tools can read and write names in.
bool knowncodepage(int codepage);

// The name converted from the code page to UTF-8; false (out holds the bytes
// with \xNN escapes for every byte above 0x7F) when it cannot be converted.
bool toutf8(int codepage, const std::string& name, std::string& out);

// The name as the inspector shows it, in UTF-8: each character converted
// from the code page, except that bytes of a control character (C0, DEL,
// C1, a direction or line-separator mark) and of anything that is not a
// character of the code page are written as \xNN. Every output form shows
// names this way.
std::string shownname(int codepage, const std::string& name);

// One component of a name (code-page bytes) with every character mapped to
// its simple uppercase form, as UTF-8: equal for two components that name
// the same file on a case-insensitive Windows file system. Bytes that are no
// character of the code page stay as they are.
std::string foldedcomponent(int codepage, const std::string& component);

// The UTF-8 name converted to the code page; false when it is not valid
// UTF-8 or the code page has no character for one of its characters (no
// best-fit substitutes).
bool fromutf8(int codepage, const std::string& name, std::string& out);

// The simple uppercase form of a character, as the system's tables give it
// (on POSIX those of C.UTF-8); ASCII without them, so a plain name folds the
// same everywhere.
char32_t simpleuppercase(char32_t c);

// The components of a name separated by "\" or "/", where the second byte
// of a double-byte character never separates.
std::vector<std::string> splitname(const std::string& name, leadbytetest islead);
