// Owners for Win32 handles, on the portable owners of owners.h (C files,
// runtime memory): movable, not copyable, released once. Each traits type
// says how its handle is released and what the empty value is; releasing
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

struct filehandletraits {
    using handle = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// A file opened with CreateFileW.
using filehandle = uniqueresource<filehandletraits>;

struct kernelhandletraits {
    using handle = HANDLE;
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// A thread, process, event or mutex: handles whose empty value is null.
using kernelhandle = uniqueresource<kernelhandletraits>;

struct resourceupdatetraits {
    using handle = HANDLE;
    static HANDLE invalid() { return nullptr; }
    // An update that was never committed is discarded: the file stays as it was.
    static void close(HANDLE h) { EndUpdateResourceW(h, TRUE); }
};
// A resource update from BeginUpdateResourceW; commit with EndUpdateResourceW(release(), FALSE).
using resourceupdate = uniqueresource<resourceupdatetraits>;

struct moduletraits {
    using handle = HMODULE;
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};
// A module from LoadLibraryExW.
using modulehandle = uniqueresource<moduletraits>;

struct windowtraits {
    using handle = HWND;
    static HWND invalid() { return nullptr; }
    static void close(HWND h) { DestroyWindow(h); }
};
// A window of this thread.
using windowhandle = uniqueresource<windowtraits>;

struct findtraits {
    using handle = intptr_t;
    static intptr_t invalid() { return -1; }
    static void close(intptr_t h) { _findclose(h); }
};
// A directory listing from _findfirst.
using findhandle = uniqueresource<findtraits>;

struct findfiletraits {
    using handle = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};
// A directory listing from FindFirstFileW.
using findfilehandle = uniqueresource<findfiletraits>;

struct gdiobjecttraits {
    using handle = HGDIOBJ;
    static HGDIOBJ invalid() { return nullptr; }
    static void close(HGDIOBJ h) { DeleteObject(h); }
};
// A bitmap, brush, pen or font that this program created.
using gdiobject = uniqueresource<gdiobjecttraits>;

struct memorydctraits {
    using handle = HDC;
    static HDC invalid() { return nullptr; }
    static void close(HDC h) { DeleteDC(h); }
};
// A device context from CreateCompatibleDC.
using memorydc = uniqueresource<memorydctraits>;

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
