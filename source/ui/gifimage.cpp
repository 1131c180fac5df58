#include "gifimage.h"
#include "gdipnew.h"

#include <cstdlib>
#include <utility>

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
    exitEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    loadFrameInfo();
}

GIFImage::~GIFImage() { stopAnimation(); }

void GIFImage::loadFrameInfo()
{
    if (GetLastStatus() != Gdiplus::Ok) return;
    UINT count = GetFrameDimensionsCount();
    if (count == 0) return;
    crtbuffer<GUID> dimensions(static_cast<GUID*>(malloc(count * sizeof(GUID))));
    if (!dimensions) return;
    if (GetFrameDimensionsList(dimensions.get(), count) == Gdiplus::Ok)
        frameCount = GetFrameCount(&dimensions.get()[0]);

    UINT size = GetPropertyItemSize(propertyFrameDelay);
    if (size < sizeof(Gdiplus::PropertyItem)) return;
    crtbuffer<Gdiplus::PropertyItem> delays(static_cast<Gdiplus::PropertyItem*>(malloc(size)));
    if (!delays) return;
    if (GetPropertyItem(propertyFrameDelay, size, delays.get()) != Gdiplus::Ok) return;
    frameDelays = std::move(delays);
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
    animThread.reset(CreateThread(nullptr, 0, threadEntry, this, CREATE_SUSPENDED, nullptr));
    if (animThread) ResumeThread(animThread.get());
}

void GIFImage::stopAnimation()
{
    if (animThread) {
        SetEvent(exitEvent.get());
        WaitForSingleObject(animThread.get(), INFINITE);
    }
    animThread.reset();
    exitEvent.reset();
    frameDelays.reset();
}

DWORD WINAPI GIFImage::threadEntry(LPVOID self) { return static_cast<GIFImage*>(self)->animationLoop(); }

void GIFImage::drawFrame(UINT width, UINT height)
{
    windowdc dc(targetWindow);
    if (!dc) return;
    // The graphics object goes before its device context is released.
    if (auto graphics = gdipmake<Gdiplus::Graphics>(dc.get()))
        graphics->DrawImage(this, drawLeft, drawTop, INT(width), INT(height));
}

DWORD GIFImage::animationLoop()
{
    frameIndex = 0;
    for (;;) {
        drawFrame(GetWidth(), GetHeight());
        if (WaitForSingleObject(exitEvent.get(), frameDelay(frameIndex)) == WAIT_OBJECT_0) return 0;
        frameIndex = (frameIndex + 1) % frameCount;
        SelectActiveFrame(&frameDimensionTime, frameIndex);
    }
}
