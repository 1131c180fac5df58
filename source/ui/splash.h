// The installer window's pictures: the background faded in on the first
// paint and the animated strip played by a thread of its own.
#pragma once

#include "splashsize.h"

#include <windows.h>

// Loads the compiled-in pictures into their process-wide slots.
void loadsplashimages();
// Starts the animated strip centred in window's client area. False when
// there is no animation to play.
bool startsplashanimation(HWND window);
// Stops the strip's thread and waits for it; safe to call at any time.
void stopsplashanimation();
// Copies the screen under window's client area for the fade to blend over.
// Call while the window is still hidden, just before it is first shown; the
// fade draws the copy first and releases it. False when no fade is to come or
// the screen could not be read (the fade then starts from what the system
// leaves in the window).
bool capturesplashbackdrop(HWND window);
// True while a copy taken by capturesplashbackdrop waits for the fade.
bool splashbackdropheld();
// Releases the copy, if any.
void releasesplashbackdrop();
// The wait between two steps of the fade: Sleep, unless a test looks at each
// step as it is drawn.
extern void(WINAPI* splashfadepause)(DWORD milliseconds);
// WM_PAINT: fades the background in once, over the copy of the screen when
// one is held, then only validates the window.
void paintsplash(HWND window);
