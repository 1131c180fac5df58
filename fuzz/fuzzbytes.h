// The fuzzer's input as a C file to read, as the programs read their own.
#pragma once

#include <cstdint>
#include <cstdio>

// A stream over size bytes of data (a temporary file where the runtime has no
// memory streams); null when it cannot be made. The caller closes it.
inline FILE* openbytes(const uint8_t* data, size_t size)
{
#ifdef _WIN32
    FILE* f = tmpfile();
    if (f && std::fwrite(data, 1, size, f) != size) {
        std::fclose(f);
        return nullptr;
    }
    return f;
#else
    return fmemopen(const_cast<uint8_t*>(data), size, "rb");
#endif
}
