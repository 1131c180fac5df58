// The XML component's platform layer: code-page conversion and opening a file
// by a UTF-16 path. The product implements it with Win32; the native build
// with iconv and UTF-8 paths.
#pragma once

#include <cstdint>
#include <cstdio>

// Converts count bytes of code page codePage (0: the ANSI code page) to UTF-16.
// With out null only measures. Returns the units produced (or needed), or 0
// when the code page is not convertible, count is not positive or capacity is
// too small. Invalid bytes become the system's replacement character.
int32_t platformToUtf16(int32_t codePage, const char* bytes, int32_t count, char16_t* out, int32_t capacity);

// Converts count UTF-16 units to code page codePage (0: the ANSI code page).
// With out null only measures. A character the code page lacks becomes the
// system's default character; usedDefault, when not null, is set to 1 if that
// happened and to 0 otherwise (pass null for code pages that cannot report
// it). Returns the bytes produced (or needed), or 0 on the failures above.
int32_t platformFromUtf16(int32_t codePage, const char16_t* units, int32_t count, char* out, int32_t capacity,
                          int32_t* usedDefault);

// Opens the file at a 0-terminated UTF-16 path with a runtime-library mode
// such as "rb" or "wb", letting other processes read and write it meanwhile.
// Returns the stream, or null with errno set.
FILE* openFileWide(const char16_t* path, const char* mode);
