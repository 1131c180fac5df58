#include "splash.h"
#include "splashimages.h"
#include "splashpictures.h"

#include <cstdlib>
#include <cstring>

Gdiplus::Image* splashbackground = nullptr;
GIFImage* splashanimation = nullptr;

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
        splashbackground = gdipnew<Gdiplus::Image>(stream, FALSE);
    if (IStream* stream = streamonbytes(splashanimationgif, sizeof splashanimationgif))
        splashanimation = gdipnew<GIFImage>(stream, FALSE);
    // A process that ends through exit() must not leave the strip inside a
    // GDI+ call while the runtime and GDI+ are torn down.
    if (splashanimation) atexit(stopatexit);
}
