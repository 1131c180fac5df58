#include "splash.h"
#include "splashimages.h"
#include "splashpictures.h"

#include <cstdlib>
#include <cstring>

namespace {

lasting<gdipptr<Gdiplus::Image>> backgroundslot;
lasting<gdipptr<GIFImage>> animationslot;

} // namespace

gdipptr<Gdiplus::Image>& splashbackground = backgroundslot.get();
gdipptr<GIFImage>& splashanimation = animationslot.get();

IStream* streamonbytes(const void* bytes, size_t size)
{
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) return nullptr;
    void* data = GlobalLock(block);
    if (!data) return nullptr;
    memcpy(data, bytes, size);
    IStream* stream = nullptr;
    // FALSE: the block outlives the stream, as the image may read it at any time.
    if (CreateStreamOnHGlobal(block, FALSE, &stream) != S_OK) return nullptr;
    return stream;
}

namespace {

void stopatexit() { stopsplashanimation(); }

} // namespace

void loadsplashimages()
{
    if (IStream* stream = streamonbytes(splashbackgroundpng, sizeof splashbackgroundpng))
        splashbackground = gdipmake<Gdiplus::Image>(stream, FALSE);
    if (IStream* stream = streamonbytes(splashanimationgif, sizeof splashanimationgif))
        splashanimation = gdipmake<GIFImage>(stream, FALSE);
    // A process that ends through exit() must not leave the strip inside a
    // GDI+ call while the runtime and GDI+ are torn down.
    if (splashanimation) atexit(stopatexit);
}
