#include "splashwindow.h"

#include "splash.h"

namespace splashtest {

namespace {

const wchar_t classname[] = L"SplashTestWindow";
LONG paintcount = 0;

LRESULT CALLBACK testwndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT) {
        InterlockedIncrement(&paintcount);
        paintsplash(window);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void registerclass()
{
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = testwndproc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // Like the installer's: the system never erases, so only the splash draws.
    wc.hbrBackground = HBRUSH(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = classname;
    registered = RegisterClassExW(&wc) != 0;
}

capture grabfrom(HDC source, int x, int y)
{
    capture c;
    c.width = windowwidth;
    c.height = windowheight;
    c.pixels.assign(size_t(c.width) * c.height, 0);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c.width;
    info.bmiHeader.biHeight = -c.height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return c;
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, c.width, c.height, source, x, y, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < c.pixels.size(); ++i) c.pixels[i] = p[i] & 0xFFFFFF;
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return c;
}

} // namespace

testwindow::testwindow(int left, int top, bool shown)
{
    registerclass();
    window =
        CreateWindowExW(WS_EX_TOPMOST, classname, L"splash test", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, left,
                        top, windowwidth, windowheight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window || !shown) return;
    // Validated before it is shown so that the tests decide when WM_PAINT comes.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    ValidateRect(window, nullptr);
    pump(200);
    ValidateRect(window, nullptr);
}

testwindow::~testwindow()
{
    if (window) DestroyWindow(window);
    pump(20);
}

void testwindow::show() const
{
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
}

int testwindow::paints() const { return int(paintcount); }

void testwindow::fill(COLORREF colour) const
{
    HDC dc = GetDC(window);
    if (!dc) return;
    RECT all = {0, 0, windowwidth, windowheight};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    GdiFlush();
    ReleaseDC(window, dc);
}

capture testwindow::grab() const
{
    HDC dc = GetDC(window);
    capture c = grabfrom(dc, 0, 0);
    ReleaseDC(window, dc);
    return c;
}

capture testwindow::grabscreen() const
{
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    HDC dc = GetDC(nullptr);
    capture c = grabfrom(dc, origin.x, origin.y);
    ReleaseDC(nullptr, dc);
    return c;
}

namespace {

const wchar_t backdropclass[] = L"SplashTestBackdrop";
// The pattern drawn by the backdrop window; one backdrop at a time.
std::vector<uint32_t> backdroppixels;
int backdropwidth = 0, backdropheight = 0;

LRESULT CALLBACK backdropproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != WM_PAINT) return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = backdropwidth;
    info.bmiHeader.biHeight = -backdropheight; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, backdropwidth, backdropheight, 0, 0, 0, backdropheight, backdroppixels.data(), &info,
                      DIB_RGB_COLORS);
    EndPaint(window, &ps);
    return 0;
}

} // namespace

backdropwindow::backdropwindow(backdroppattern pattern)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = backdropproc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = HBRUSH(GetStockObject(NULL_BRUSH));
        wc.lpszClassName = backdropclass;
        registered = RegisterClassExW(&wc) != 0;
    }
    backdropwidth = GetSystemMetrics(SM_CXSCREEN);
    backdropheight = GetSystemMetrics(SM_CYSCREEN);
    backdroppixels.resize(size_t(backdropwidth) * backdropheight);
    for (int y = 0; y < backdropheight; ++y)
        for (int x = 0; x < backdropwidth; ++x) backdroppixels[size_t(y) * backdropwidth + x] = pattern(x, y);
    window = CreateWindowExW(0, backdropclass, L"splash test backdrop", WS_POPUP, 0, 0, backdropwidth, backdropheight,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    pump(200);
}

backdropwindow::~backdropwindow()
{
    if (window) DestroyWindow(window);
    pump(20);
}

void pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(1);
    } while (GetTickCount() - start < ms);
}

} // namespace splashtest
