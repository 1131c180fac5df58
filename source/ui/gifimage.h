// An animated GIF that plays itself on a thread of its own, drawing each frame
// straight onto a window's client area through a device context of its own.
#pragma once

#include "handles.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>

class GIFImage : public Gdiplus::Image {
public:
    // Loads the image from stream (GdipLoadImageFromStream, or its ICM form
    // when useEmbeddedColorManagement) and reads its frame count and delays.
    GIFImage(IStream* stream, BOOL useEmbeddedColorManagement);
    // Stops the thread and releases what the object holds.
    ~GIFImage() override;

    // Draws from now on at (left, top) of window's client area and starts the
    // thread if the image has more than one frame; returns at once.
    void startAnimation(HWND window, int32_t left, int32_t top);
    // Signals the thread, waits for it to end, and closes and frees what the
    // object holds; safe to call again and when no thread was ever started.
    void stopAnimation();

    // The fields stay public in this order: the strip's owner and its tests
    // read them, and nothing but this class writes them.
    kernelhandle animThread;                      // the drawing thread; empty until started
    kernelhandle exitEvent;                       // manual reset; signalled, it ends the thread
    HWND targetWindow = nullptr;                  // the window drawn on
    uint32_t frameCount = 0;                      // frames in the time dimension; 0 if unreadable
    uint32_t frameIndex = 0;                      // the frame shown at present
    crtbuffer<Gdiplus::PropertyItem> frameDelays; // delays in 1/100 s, malloc'ed
    int32_t drawLeft = 0;                         // client coordinates of the frames' top left
    int32_t drawTop = 0;

private:
    GIFImage(const GIFImage&) = delete;
    GIFImage& operator=(const GIFImage&) = delete;

    void loadFrameInfo();
    // The frame's delay in milliseconds.
    DWORD frameDelay(uint32_t index) const;
    void drawFrame(UINT width, UINT height);
    DWORD animationLoop();
    static DWORD WINAPI threadEntry(LPVOID self);
};
