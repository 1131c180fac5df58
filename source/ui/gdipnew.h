// Allocation of GDI+ wrapper objects that fails softly.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <new>
#include <utility>

// Allocates a GDI+ wrapper object through the GDI+ allocator (so plain delete
// releases it); null when that allocator fails.
template <class T, class... Args>
T* gdipnew(Args&&... args)
{
    void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(T));
    return memory ? ::new (memory) T(std::forward<Args>(args)...) : nullptr;
}

// Owner of a GDI+ wrapper object: the wrappers' own operator delete hands the
// memory back to the GDI+ allocator, so the default deleter is right.
template <class T>
using gdipptr = std::unique_ptr<T>;

// gdipnew into an owner.
template <class T, class... Args>
gdipptr<T> gdipmake(Args&&... args)
{
    return gdipptr<T>(gdipnew<T>(std::forward<Args>(args)...));
}

// A font family handle of the flat API, deleted with GdipDeleteFontFamily.
struct gdipfamilydeleter {
    void operator()(Gdiplus::GpFontFamily* family) const { Gdiplus::DllExports::GdipDeleteFontFamily(family); }
};
using gdipflatfamily = std::unique_ptr<Gdiplus::GpFontFamily, gdipfamilydeleter>;
