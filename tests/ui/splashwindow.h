// A 580 x 54 test window that paints through paintsplash, and what the
// splash tests need to look at it: captures of its client area and a way to
// keep its messages flowing while they watch.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace splashtest {

const int windowwidth = 580;
const int windowheight = 54;

// The client area's pixels, top row first, as 0x00RRGGBB.
struct capture {
    std::vector<uint32_t> pixels;
    int width = 0;
    int height = 0;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Red, green and blue of a captured pixel.
inline int red(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int green(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int blue(uint32_t p) { return int(p & 0xFF); }

// A topmost popup window of the tests' own class at (left, top) of the
// screen, shown and validated at once unless asked to stay hidden; its
// WM_PAINT calls paintsplash and counts. Destroyed with the object.
class testwindow {
public:
    testwindow(int left = 100, int top = 100, bool shown = true);
    ~testwindow();
    testwindow(const testwindow&) = delete;
    testwindow& operator=(const testwindow&) = delete;

    HWND handle() const { return window; }
    // Shows a hidden window as the installer does: ShowWindow, then
    // UpdateWindow, whose WM_PAINT runs before this returns.
    void show() const;
    // WM_PAINT messages the window has handled so far.
    int paints() const;
    // Fills the whole client area with one colour through a DC of its own.
    void fill(COLORREF colour) const;
    // The client area as it is now, read through a window DC.
    capture grab() const;
    // The whole screen area under the window, read through the screen DC.
    capture grabscreen() const;

private:
    HWND window = nullptr;
};

// The colour of a backdrop at a screen position, as 0x00RRGGBB.
using backdroppattern = uint32_t (*)(int x, int y);

// A full-screen popup below the test windows that paints pattern: what the
// screen shows under a splash window. Destroyed with the object.
class backdropwindow {
public:
    explicit backdropwindow(backdroppattern pattern);
    ~backdropwindow();
    backdropwindow(const backdropwindow&) = delete;
    backdropwindow& operator=(const backdropwindow&) = delete;

    explicit operator bool() const { return window != nullptr; }

private:
    HWND window = nullptr;
};

// Dispatches the calling thread's pending messages for about ms milliseconds.
void pump(DWORD ms);

} // namespace splashtest
