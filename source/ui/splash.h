// The installer window's pictures: the background faded in on the first
// paint and the animated strip played by a thread of its own.
#pragma once

#include <windows.h>

// Loads the compiled-in pictures into their process-wide slots.
void loadsplashimages();
// Starts the animated strip centred in window's client area. False when
// there is no animation to play.
bool startsplashanimation(HWND window);
// Stops the strip's thread and waits for it; safe to call at any time.
void stopsplashanimation();
// WM_PAINT: fades the background in once, then only validates the window.
void paintsplash(HWND window);
