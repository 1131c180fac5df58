// Portable owners: a movable, non-copyable template over a close function
// and an empty value, C runtime files and memory. No platform header, so the
// portable core and the tools that build natively use them too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

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

struct stdiofiletraits {
    using handle = FILE*;
    static FILE* invalid() { return nullptr; }
    static void close(FILE* f) { fclose(f); }
};
// A C runtime file from fopen.
using stdiofile = uniqueresource<stdiofiletraits>;
// Closes a file whose close must be checked (a written file: fclose flushes
// what is still buffered). fclose's result; 0 for an empty owner.
inline int closechecked(stdiofile& file) { return file ? fclose(file.release()) : 0; }

// Memory from malloc (or a runtime call that allocates with it, such as
// _getcwd with no buffer), released with free.
struct crtfree {
    void operator()(void* p) const { free(p); }
};
template <typename T>
using crtbuffer = std::unique_ptr<T, crtfree>;
