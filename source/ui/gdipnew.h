// Allocation of GDI+ wrapper objects that fails softly.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

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
