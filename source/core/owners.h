// Portable owners: a movable, non-copyable template over a close function
// and an empty value, C runtime files and memory, and process-wide objects
// that are never destroyed. No platform header, so the portable core and
// the tools that build natively use them too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

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

// Empty-value policies of uniquehandle: value<Handle>() is what an owner
// holds while it owns nothing. Types, not values, because some empty values
// (INVALID_HANDLE_VALUE) are casts no template argument can hold.
// The null handle: a null pointer, or 0.
struct emptynull {
    template <typename Handle>
    static Handle value()
    {
        return Handle();
    }
};
// The handle whose bits are all ones: -1 for an integer handle, and for a
// pointer handle the (HANDLE)(LONG_PTR)-1 that INVALID_HANDLE_VALUE stands for.
struct emptyallones {
    template <typename Handle>
    static Handle value()
    {
        if constexpr (std::is_pointer_v<Handle>)
            return reinterpret_cast<Handle>(intptr_t(-1));
        else
            return Handle(-1);
    }
};

// The traits of uniqueresource for a handle released by one call, Close(h),
// whatever its calling convention, with Empty's value as the empty one.
template <typename Handle, auto Close, typename Empty>
struct closetraits {
    using handle = Handle;
    static Handle invalid() { return Empty::template value<Handle>(); }
    static void close(Handle h) { Close(h); }
};
// An owner in one line: the handle type, the call that releases it and the
// empty-value policy, e.g. uniquehandle<FILE*, fclose, emptynull>.
template <typename Handle, auto Close, typename Empty>
using uniquehandle = uniqueresource<closetraits<Handle, Close, Empty>>;

// A C runtime file from fopen.
using stdiofile = uniquehandle<FILE*, fclose, emptynull>;
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

// A process-wide object built before main and never destroyed, so that an
// exit handler or a thread still running during exit finds it, and nothing
// it owns is released after what it depends on has shut down.
template <typename T>
class lasting {
public:
    lasting() { ::new (static_cast<void*>(storage)) T(); }
    lasting(const lasting&) = delete;
    lasting& operator=(const lasting&) = delete;
    // The object.
    T& get() { return *std::launder(reinterpret_cast<T*>(storage)); }

private:
    alignas(T) unsigned char storage[sizeof(T)];
};
