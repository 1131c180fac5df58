#include "bytes.h"

bool readat(FILE* stream, long pos, unsigned char* out, size_t length)
{
    if (pos < 0 || fseek(stream, pos, SEEK_SET) != 0) return false;
    return fread(out, 1, length, stream) == length;
}
