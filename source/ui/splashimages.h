// The installer window's compiled-in pictures, their process-wide slots and
// the helpers that turn bytes into GDI+ images.
#pragma once

#include "gdipnew.h"
#include "gifimage.h"

#include <cstddef>

// The background panel, or empty; filled by loadsplashimages, released by
// paintsplash once it has faded in. Never released at exit: by then GDI+ may
// have shut down.
extern gdipptr<Gdiplus::Image>& splashbackground;
// The animated strip, or empty; filled by loadsplashimages and, like the
// panel, never released at exit.
extern gdipptr<GIFImage>& splashanimation;
// Set once the background has faded in; later paints only validate.
extern bool splashpainted;

// The message's font families in order of preference.
extern const wchar_t* const splashfontfamilies[];
extern const size_t splashfontfamilycount;

// A COM stream over a fixed global copy of size bytes, or null. Neither the
// block nor the stream is ever released: an image reads its stream for as
// long as it lives.
IStream* streamonbytes(const void* bytes, size_t size);

// The first of count names installed as a font family, else any installed
// family with the simplified Chinese character set, else the generic
// sans-serif family, else the family of the system's message font; null only
// when none of them exists.
gdipptr<Gdiplus::FontFamily> choosefontfamily(const wchar_t* const* names, size_t count);
