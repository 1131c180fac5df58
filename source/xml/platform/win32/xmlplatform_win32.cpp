#include "xmlplatform.h"

#include <share.h>
#include <wchar.h>
#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 passes to Win32 as wchar_t");

int32_t platformToUtf16(int32_t codePage, const char* bytes, int32_t count, char16_t* out, int32_t capacity)
{
    // A count of -1 would make the system read up to a zero byte, past the buffer.
    if (count <= 0 || (out != nullptr && capacity <= 0)) return 0;
    const UINT page = static_cast<UINT>(codePage);
    const int needed = MultiByteToWideChar(page, 0, bytes, count, nullptr, 0);
    // Some implementations fill a short buffer and report that as success;
    // a result that does not fit is refused whole instead.
    if (out == nullptr || needed <= 0 || needed > capacity) return out == nullptr ? needed : 0;
    return MultiByteToWideChar(page, 0, bytes, count, reinterpret_cast<wchar_t*>(out), capacity);
}

int32_t platformFromUtf16(int32_t codePage, const char16_t* units, int32_t count, char* out, int32_t capacity,
                          int32_t* usedDefault)
{
    if (usedDefault) *usedDefault = 0;
    if (count <= 0 || (out != nullptr && capacity <= 0)) return 0;
    const UINT page = static_cast<UINT>(codePage);
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(units);
    BOOL defaulted = FALSE;
    const int needed =
        WideCharToMultiByte(page, 0, wide, count, nullptr, 0, nullptr, usedDefault ? &defaulted : nullptr);
    int produced = needed;
    if (out != nullptr) {
        // As above: a short buffer refuses the whole result.
        produced = needed > 0 && needed <= capacity ? WideCharToMultiByte(page, 0, wide, count, out, capacity, nullptr,
                                                                          usedDefault ? &defaulted : nullptr)
                                                    : 0;
    }
    if (usedDefault) *usedDefault = produced > 0 && defaulted ? 1 : 0;
    return produced;
}

FILE* openFileWide(const char16_t* path, const char* mode)
{
    wchar_t wideMode[8];
    size_t i = 0;
    for (; mode[i] != 0 && i + 1 < sizeof wideMode / sizeof wideMode[0]; ++i)
        wideMode[i] = static_cast<wchar_t>(static_cast<unsigned char>(mode[i]));
    wideMode[i] = 0;
    return _wfsopen(reinterpret_cast<const wchar_t*>(path), wideMode, _SH_DENYNO);
}
