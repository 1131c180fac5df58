// Giving a Windows program (PE32 or PE32+) new icon images without the
// system's resource update: the resource tree is read, the RT_ICON images
// the builder's icon replacement writes are put in (same identifiers, same
// filler copies, language 1033), every other resource is kept, and the
// resource section is written anew. Sections after it that only the headers
// refer to (the relocations) move with it; the headers follow: image size,
// resource and relocation directories, initialised data size and, when the
// program carries one, the checksum. No platform header: fuzzable.
#pragma once

#include "icofile.h"

#include <cstdint>
#include <string>
#include <vector>

// Results of replaceiconimages: PE_OK, or why the program was left alone.
enum {
    PE_OK = 0,
    PE_NOT_PROGRAM = -1,    // no MZ / PE signature, or headers outside the file
    PE_BAD_HEADERS = -2,    // section table or alignments that do not add up
    PE_BAD_RESOURCES = -3,  // a resource tree that does not lie inside the program, or too large
    PE_NO_RESOURCES = -4,   // no resource section and no room in the headers for one
    PE_FIXED_SECTIONS = -5, // the resource section would have to grow past a section the code refers to
    PE_SIGNED = -6,         // a signature would be broken: sign after packing
    PE_TOO_LARGE = -7       // the program would pass 2 GiB
};

// A short English description of a result.
const char* peresulttext(int result);

// One resource leaf of a parsed tree, for tests and the fuzz target.
struct resourceleaf {
    uint32_t type; // 0 for a named type
    uint32_t id;   // 0 for a named resource
    uint32_t language;
    std::string data;
};

// Every resource of program whose type and name are integers, in tree order;
// PE_OK or the fault found.
int listresources(const std::string& program, std::vector<resourceleaf>& out);

// Writes images (the icon file's images, in directory order) into program
// as the builder's icon replacement does: RT_ICON identifiers per iconslots,
// language 1033. out receives the new program; PE_OK, or the fault found
// (out is then empty).
int replaceiconimages(const std::string& program, const std::vector<std::string>& images, std::string& out);

// The PE checksum of program, whose checksum field is at checksumat.
uint32_t pechecksum(const std::string& program, size_t checksumat);
