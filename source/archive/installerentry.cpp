#include "installerentry.h"

#include "entryname.h"

#include <windows.h>

#include <cstring>

namespace {

// Double-byte characters of the ANSI code page, in which names reach the file functions.
bool ansileadbyte(unsigned char byte) { return IsDBCSLeadByte(BYTE(byte)) != 0; }

} // namespace

bool safeentryname(const char* name) { return safeentryname(name, ansileadbyte); }

int32_t openinstallerentry(unzFile archive, entryrecord& entry, char* name)
{
    name[0] = 0;
    int32_t result = readentryrecord(archive, entry);
    if (result != ENTRY_OK) return result;
    // A name too long for the buffer is delivered cut, and refused.
    size_t length = entry.name.size() < size_t(ENTRY_NAME_SIZE) ? entry.name.size() : size_t(ENTRY_NAME_SIZE - 1);
    memcpy(name, entry.name.data(), length);
    name[length] = 0;
    if (entry.name.size() >= size_t(ENTRY_NAME_SIZE) || !safeentryname(name)) return ENTRY_UNSAFE_NAME;
    return openentrydata(archive, entry);
}
