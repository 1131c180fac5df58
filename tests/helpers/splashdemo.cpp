// Shows the splash the way the installer window does (centred 580 x 54 popup,
// no background brush, strip started on creation, the screen beneath copied
// before it shows, fade on the first paint) for a while, then ends through
// WM_DESTROY. For screenshots until a package can be shown instead.
//   splashdemo.exe [milliseconds]   default 4000
#include "splash.h"
#include "startup.h"

#include <windows.h>
#include <gdiplus.h>

#include <cstdlib>

namespace {

const UINT_PTR closetimer = 1;

LRESULT CALLBACK demowndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: startsplashanimation(window); return 0;
    case WM_PAINT: paintsplash(window); return 0;
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_DESTROY:
        // The strip draws through GDI+: it ends before GDI+ does.
        stopsplashanimation();
        Gdiplus::GdiplusShutdown(gdiplustoken);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

int main(int argc, char** argv)
{
    UINT showms = argc > 1 ? UINT(atoi(argv[1])) : 4000;
    startgdiplus();
    loadsplashimages();

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = demowndproc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = L"SplashDemo";
    RegisterClassExW(&wc);
    int left = (GetSystemMetrics(SM_CXSCREEN) - 580) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - 54) / 2;
    HWND window = CreateWindowExW(0, L"SplashDemo", L"splashdemo", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, left,
                                  top, 580, 54, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    SetTimer(window, closetimer, showms, nullptr);
    capturesplashbackdrop(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) == 1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
