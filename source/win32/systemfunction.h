// The one way the program looks up a function of a system DLL at run time
// (functions that older Windows versions lack).
//
//   auto set = systemfunction<BOOL(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
//
// The caller names the plain signature; the helper adds the calling
// convention of the Windows API (WINAPI, stdcall on 32-bit x86). A pointer
// type, or a signature with a convention of its own, does not compile, so a
// declaration without WINAPI (harmless on 64-bit Windows, a corrupted stack
// on 32-bit) cannot be written.
#pragma once

#include <windows.h>

template <typename Signature>
struct winapifunction; // only plain function types: R(A...)

template <typename R, typename... A>
struct winapifunction<R(A...)> {
    using pointer = R(WINAPI*)(A...);
};

// The function name exported by module (already loaded, looked up by
// GetModuleHandleW: never loaded by this call), or null when either is missing.
template <typename Signature>
typename winapifunction<Signature>::pointer systemfunction(const wchar_t* module, const char* name)
{
    HMODULE h = GetModuleHandleW(module);
    FARPROC found = h ? GetProcAddress(h, name) : nullptr;
    return reinterpret_cast<typename winapifunction<Signature>::pointer>(reinterpret_cast<void*>(found));
}
