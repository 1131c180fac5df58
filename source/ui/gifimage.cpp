#include "gifimage.h"
#include "gdipnew.h"

#include <cstdlib>

namespace {

// The time dimension of a GIF's frames, spelled out so no GUID library is needed.
const GUID frameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};

const PROPID propertyFrameDelay = 0x5100;

// A GIF with frames but without a delay list still needs a pace; a tenth of
// a second is what viewers commonly assume.
const DWORD missingDelayMs = 100;

} // namespace

GIFImage::GIFImage(IStream* stream, BOOL useEmbeddedColorManagement)
    : Gdiplus::Image(stream, useEmbeddedColorManagement)
{
    // Manual reset: once signalled it stays so for every later wait.
    exitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    loadFrameInfo();
}

GIFImage::~GIFImage() { stopAnimation(); }

void GIFImage::loadFrameInfo()
{
    if (GetLastStatus() != Gdiplus::Ok) return;
    UINT count = GetFrameDimensionsCount();
    if (count == 0) return;
    GUID* dimensions = static_cast<GUID*>(malloc(count * sizeof(GUID)));
    if (!dimensions) return;
    if (GetFrameDimensionsList(dimensions, count) == Gdiplus::Ok) frameCount = GetFrameCount(&dimensions[0]);
    free(dimensions);

    UINT size = GetPropertyItemSize(propertyFrameDelay);
    if (size < sizeof(Gdiplus::PropertyItem)) return;
    auto* delays = static_cast<Gdiplus::PropertyItem*>(malloc(size));
    if (!delays) return;
    if (GetPropertyItem(propertyFrameDelay, size, delays) != Gdiplus::Ok) {
        free(delays);
        return;
    }
    frameDelays = delays;
}

DWORD GIFImage::frameDelay(uint32_t index) const
{
    if (!frameDelays || !frameDelays->value || uint64_t(index + 1) * 4 > frameDelays->length) return missingDelayMs;
    return static_cast<const UINT*>(frameDelays->value)[index] * 10;
}

void GIFImage::startAnimation(HWND window, int32_t left, int32_t top)
{
    targetWindow = window;
    drawLeft = left;
    drawTop = top;
    // Without its event a thread could never be stopped: after stopAnimation
    // the object does not play again.
    if (frameCount <= 1 || animThread || !exitEvent) return;
    HANDLE thread = CreateThread(nullptr, 0, threadEntry, this, CREATE_SUSPENDED, nullptr);
    if (!thread) return;
    animThread = thread;
    ResumeThread(thread);
}

void GIFImage::stopAnimation()
{
    if (animThread) {
        SetEvent(exitEvent);
        WaitForSingleObject(animThread, INFINITE);
    }
    if (animThread) CloseHandle(animThread);
    if (exitEvent) CloseHandle(exitEvent);
    free(frameDelays);
    animThread = nullptr;
    exitEvent = nullptr;
    frameDelays = nullptr;
}

DWORD WINAPI GIFImage::threadEntry(LPVOID self) { return static_cast<GIFImage*>(self)->animationLoop(); }

void GIFImage::drawFrame(UINT width, UINT height)
{
    HDC dc = GetDC(targetWindow);
    if (!dc) return;
    auto* graphics = gdipnew<Gdiplus::Graphics>(dc);
    if (graphics) graphics->DrawImage(this, drawLeft, drawTop, INT(width), INT(height));
    ReleaseDC(targetWindow, dc);
    delete graphics;
}

DWORD GIFImage::animationLoop()
{
    frameIndex = 0;
    for (;;) {
        drawFrame(GetWidth(), GetHeight());
        if (WaitForSingleObject(exitEvent, frameDelay(frameIndex)) == WAIT_OBJECT_0) return 0;
        frameIndex = (frameIndex + 1) % frameCount;
        SelectActiveFrame(&frameDimensionTime, frameIndex);
    }
}
