// Encoding names: resolves the name of a character encoding (as a byte-order
// mark implies it, or as a document declares it) to a Windows code page number.
#pragma once

#include <cstdint>

// Number of buckets of encodingtable.
const int32_t ENCODING_BUCKETS = 155;
// Names of this many units or more are never looked up.
const int32_t ENCODING_NAME_LIMIT = 100;
// Code page for 32-bit code points held in memory; no system conversion knows it.
const int32_t CODEPAGE_UTF32_MEMORY = 65005;

// The name table: per bucket, entries of two digits of name length, five
// digits of code page and the lowercase name, back to back; a 0 unit ends the
// bucket. A name lives in bucket (sum of its units) mod ENCODING_BUCKETS.
extern const char16_t* const encodingtable[ENCODING_BUCKETS];

// Resolves a 0-terminated encoding name, ASCII case ignored. Returns its code
// page, 0 for the empty name, 65005 for any name starting exactly "UTF-32",
// or -1 for an unknown name.
int32_t codePageOf(const char16_t* name);
