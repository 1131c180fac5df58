// Owners for Win32 handles, on the portable owners of owners.h (C files,
// runtime memory): movable, not copyable, released once. Each owner names
// its handle type, the call that releases it and its empty value; releasing
// never changes what the program does, only that every early return is a
// plain return.
#pragma once

#include "owners.h"

#include <windows.h>

#include <direct.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// A file opened with CreateFileW.
using filehandle = uniquehandle<HANDLE, CloseHandle, emptyallones>;
// A thread, process, event or mutex: handles whose empty value is null.
using kernelhandle = uniquehandle<HANDLE, CloseHandle, emptynull>;

// Discards a resource update that was never committed: the file stays as it was.
inline void discardresourceupdate(HANDLE update) { EndUpdateResourceW(update, TRUE); }
// A resource update from BeginUpdateResourceW; commit with EndUpdateResourceW(release(), FALSE).
using resourceupdate = uniquehandle<HANDLE, discardresourceupdate, emptynull>;

// A module from LoadLibraryExW.
using modulehandle = uniquehandle<HMODULE, FreeLibrary, emptynull>;
// A window of this thread.
using windowhandle = uniquehandle<HWND, DestroyWindow, emptynull>;
// A directory listing from _findfirst.
using findhandle = uniquehandle<intptr_t, _findclose, emptyallones>;
// A directory listing from FindFirstFileW.
using findfilehandle = uniquehandle<HANDLE, FindClose, emptyallones>;
// A bitmap, brush, pen or font that this program created.
using gdiobject = uniquehandle<HGDIOBJ, DeleteObject, emptynull>;
// A device context from CreateCompatibleDC.
using memorydc = uniquehandle<HDC, DeleteDC, emptynull>;

// A window's device context from GetDC, released to the same window.
class windowdc {
public:
    explicit windowdc(HWND window) : window(window), dc(GetDC(window)) {}
    ~windowdc()
    {
        if (dc) ReleaseDC(window, dc);
    }
    windowdc(const windowdc&) = delete;
    windowdc& operator=(const windowdc&) = delete;
    HDC get() const { return dc; }
    explicit operator bool() const { return dc != nullptr; }

private:
    HWND window;
    HDC dc;
};

// An object selected into a device context for a scope; the one it replaced
// is selected back when the scope ends.
class selectedobject {
public:
    selectedobject(HDC dc, HGDIOBJ object) : dc(dc), previous(SelectObject(dc, object)) {}
    ~selectedobject() { SelectObject(dc, previous); }
    selectedobject(const selectedobject&) = delete;
    selectedobject& operator=(const selectedobject&) = delete;

private:
    HDC dc;
    HGDIOBJ previous;
};

// One paint cycle: BeginPaint now, EndPaint when the scope ends.
class paintcycle {
public:
    explicit paintcycle(HWND window) : window(window) { BeginPaint(window, &ps); }
    ~paintcycle() { EndPaint(window, &ps); }
    paintcycle(const paintcycle&) = delete;
    paintcycle& operator=(const paintcycle&) = delete;

private:
    HWND window;
    PAINTSTRUCT ps;
};

// A critical section that lives as long as its owner.
class criticalsection {
public:
    criticalsection() { InitializeCriticalSection(&section); }
    ~criticalsection() { DeleteCriticalSection(&section); }
    criticalsection(const criticalsection&) = delete;
    criticalsection& operator=(const criticalsection&) = delete;
    void enter() { EnterCriticalSection(&section); }
    void leave() { LeaveCriticalSection(&section); }

private:
    CRITICAL_SECTION section;
};

// Holds a critical section for a scope; unlock() and lock() let a loop leave
// it around a wait and take it again.
class scopedlock {
public:
    explicit scopedlock(criticalsection& section) : section(section) { section.enter(); }
    ~scopedlock()
    {
        if (held) section.leave();
    }
    scopedlock(const scopedlock&) = delete;
    scopedlock& operator=(const scopedlock&) = delete;
    void unlock()
    {
        section.leave();
        held = false;
    }
    void lock()
    {
        section.enter();
        held = true;
    }

private:
    criticalsection& section;
    bool held = true;
};

// The process's current directory as it was at save(); restore() (or the
// end of the owner) makes it current again. Empty until save().
class savedcurrentdirectory {
public:
    savedcurrentdirectory() = default;
    ~savedcurrentdirectory() { restore(); }
    savedcurrentdirectory(const savedcurrentdirectory&) = delete;
    savedcurrentdirectory& operator=(const savedcurrentdirectory&) = delete;
    void save() { path.reset(_getcwd(nullptr, 0)); }
    void restore()
    {
        if (path) _chdir(path.get());
        path.reset();
    }

private:
    crtbuffer<char> path;
};
