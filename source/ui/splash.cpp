#include "splash.h"

void loadsplashimages() {}

bool startsplashanimation(HWND) { return false; }

void stopsplashanimation() {}

void paintsplash(HWND window)
{
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
}
