// Little-endian fields and positioned reads: the package trailer, the PE
// header, icon files and ZIP records all store their numbers this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline uint16_t get16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint32_t get32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The same fields at byte offset at of a string of bytes.
inline uint16_t get16(const std::string& bytes, size_t at)
{
    return get16(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}
inline uint32_t get32(const std::string& bytes, size_t at)
{
    return get32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

inline void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}
// The same field at byte offset at of a string of bytes, which must hold it.
inline void put32(std::string& bytes, size_t at, uint32_t v) { put32(reinterpret_cast<unsigned char*>(&bytes[at]), v); }

// Reads exactly length bytes at position pos of stream; false for a negative
// position, a failed seek or a short read.
bool readat(FILE* stream, long pos, unsigned char* out, size_t length);
