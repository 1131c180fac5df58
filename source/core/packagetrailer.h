// The package layout: program image, archive A, archive B and an 81-byte
// trailer that locates them, found by a backward search for its end marker.
#pragma once

#include <cstdint>
#include <cstdio>

const int32_t TRAILER_SIZE = 81;
const int32_t TRAILER_MARKER_SIZE = 9;
// The eight marker characters; the stored marker adds a zero byte.
extern const char TRAILER_MARKER[9];

struct PackageTrailer {
    uint32_t offsetA;
    char digestA[32];
    uint32_t offsetB;
    char digestB[32];
};

// Writes the 81 trailer bytes: offsetA, digestA, offsetB, digestB, marker.
void encodetrailer(const PackageTrailer& trailer, unsigned char out[81]);

// Reads the fields from 81 trailer bytes. False when the marker (with its
// zero byte) is not at the end.
bool decodetrailer(const unsigned char in[81], PackageTrailer& trailer);

// Where the backward marker search of an open file starts: the file size, or
// for a signed program file (a certificate table that ends at the end of the
// file) the start of that table. -1 when the file cannot be measured.
int32_t searchend(FILE* stream);

// Finds the trailer of an open package: searches backwards for the marker,
// one byte per step, and writes "find file end pos:%d." on a match. Returns
// T, the trailer's position, with the fields read; -1 when there is no marker
// or the offsets do not satisfy offsetA < offsetB <= T.
int32_t findtrailer(FILE* stream, PackageTrailer& trailer);

// findtrailer without the line: the same search and checks. distance gets d,
// the marker's position counted back from the search end (negative), or 0
// when no marker was found; a found marker with invalid offsets returns -1
// with distance set.
int32_t locatetrailer(FILE* stream, PackageTrailer& trailer, int32_t& distance);
