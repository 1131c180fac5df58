// Owners for Win32 handles and C files: movable, not copyable, released once.
#pragma once

#include <windows.h>

#include <cstdio>

template <typename Traits>
class uniqueresource {
public:
    using handle = typename Traits::handle;

    uniqueresource() : value(Traits::invalid()) {}
    explicit uniqueresource(handle h) : value(h) {}
    ~uniqueresource() { reset(); }
    uniqueresource(uniqueresource&& other) noexcept : value(other.release()) {}
    uniqueresource& operator=(uniqueresource&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    uniqueresource(const uniqueresource&) = delete;
    uniqueresource& operator=(const uniqueresource&) = delete;

    // The owned handle, still owned.
    handle get() const { return value; }
    // True when a handle is owned.
    explicit operator bool() const { return value != Traits::invalid(); }
    // Gives up ownership and returns the handle.
    handle release()
    {
        handle h = value;
        value = Traits::invalid();
        return h;
    }
    // Releases the owned handle (if any) and takes h.
    void reset(handle h = Traits::invalid())
    {
        if (value != Traits::invalid()) Traits::close(value);
        value = h;
    }

private:
    handle value;
};

struct filehandletraits {
    using handle = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// A file opened with CreateFileW.
using filehandle = uniqueresource<filehandletraits>;

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

struct stdiofiletraits {
    using handle = FILE*;
    static FILE* invalid() { return nullptr; }
    static void close(FILE* f) { fclose(f); }
};
// A C runtime file from fopen.
using stdiofile = uniqueresource<stdiofiletraits>;
