// A full-screen window that stands for the desktop under the splash. Wine's
// screen device context shows Wine's own windows but not the X display's
// root, so a program that copies the screen finds this window there.
//   backdrop.exe MILLISECONDS [PICTURE.bmp]   white without a picture
#include <windows.h>

#include <cstdlib>

namespace {

HBITMAP picture = nullptr;

LRESULT CALLBACK backdropproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT all;
        GetClientRect(window, &all);
        FillRect(dc, &all, HBRUSH(GetStockObject(WHITE_BRUSH)));
        if (picture) {
            HDC source = CreateCompatibleDC(dc);
            HGDIOBJ previous = SelectObject(source, picture);
            BITMAP size = {};
            GetObjectW(picture, sizeof size, &size);
            BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
            SelectObject(source, previous);
            DeleteDC(source);
        }
        EndPaint(window, &ps);
        return 0;
    }
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

int main(int argc, char** argv)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    UINT showms = argc > 1 ? UINT(atoi(argv[1])) : 60000;
    if (argc > 2)
        picture = HBITMAP(LoadImageA(nullptr, argv[2], IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));

    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = backdropproc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"Backdrop";
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, L"Backdrop", L"backdrop", WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                  GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    SetTimer(window, 1, showms, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) == 1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
