// Never run, only inspected: a program with what the Windows XP import check
// must refuse. It imports a function of Windows Vista, delay-loads a GDI+
// function the allowlist does not hold, and its header asks for Windows 6.0.
#include <windows.h>

#include <gdiplus.h>

int main()
{
    ULONGLONG now = GetTickCount64();
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::DllExports::GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppARGB, nullptr, &bitmap);
    return int(now & 1);
}
