// The size of the bare program file, written into the linked executable by
// the build (cmake/stampsize.sh) so that the mode test follows every build.
#pragma once

#include <cstdint>

// The recorded size; a file of exactly this size is the bare program.
uint32_t stubsize();
