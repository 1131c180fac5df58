// Pieces of the C++ runtime a shipped program replaces with smaller ones of
// its own, linked into the program only (tests keep the library's). Nothing
// in the program throws: where the library would throw an exception that
// nobody catches, which ends the process through std::terminate and abort,
// these end it with abort at once. Without them the static runtime brings
// in its exception objects, a second string implementation for their
// messages and the demangler of its verbose terminate handler.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size)
{
    // The library's operator new throws std::bad_alloc, which ends the program.
    if (void* block = std::malloc(size ? size : 1)) return block;
    std::abort();
}

void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace std {

// Called by the library's inline code (containers, strings) on misuse or an
// impossible size.
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }

} // namespace std

namespace __gnu_cxx {

// What std::terminate calls: the library's prints the uncaught exception's
// demangled type to a console a windowed program does not have.
void __verbose_terminate_handler() { std::abort(); }

} // namespace __gnu_cxx
