// The program's calls into Windows that differ between Windows versions or
// that tests must be able to drive, in one table: the calls that create,
// open, rename, delete and protect, start the setup program, and the few
// questions asked about what they act on and who may act; and every call
// looked up at run time because older versions lack it (each member then
// null where the system has none, or a stand-in that answers as the old
// system would). A new version's quirk goes here, and nowhere else.
//
// The program uses the system's; a test puts its own in place to make one
// fail, to answer as another Windows version would, or to change the tree
// between two steps as another process of the same user could. Neither
// Wine nor a test's own account can produce most of those conditions
// (read-only leftovers that will not go, a standard user's token, volumes
// without ACLs, a resolved path that cannot be read, Windows XP), so this is
// where they are driven.
#pragma once

#include "handles.h"
#include "systemfunction.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

struct platformcalls {
    // CreateFileW with no template. INVALID_HANDLE_VALUE on failure.
    using createfilecall = HANDLE(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* attributes,
                                  DWORD disposition, DWORD flags);
    createfilecall* createfile;
    // Creates the directory name in the directory open as parent (name is a
    // full path when parent is null), which must not exist, with descriptor
    // (null: inherited from its parent) and opens it with access and share in
    // the same step: nothing can stand in for it between the two. Never
    // follows a link at its name. INVALID_HANDLE_VALUE on failure.
    using createdirectorynewcall = HANDLE(HANDLE parent, const wchar_t* name, SECURITY_DESCRIPTOR* descriptor,
                                          DWORD access, DWORD share);
    createdirectorynewcall* createdirectorynew;
    // CreateDirectoryW with the parent's inherited descriptor: nonzero when made.
    BOOL (*createdirectory)(const wchar_t* path);
    // Renames the file or directory open as handle (with DELETE access) to
    // name in the directory open as directory (name is a full path when
    // directory is null), on the same volume; never replaces what stands
    // there. Acts on what the handles are, never on a name looked up again.
    bool (*renamethrough)(HANDLE handle, HANDLE directory, const wchar_t* name);
    // GetFileAttributesW.
    DWORD (*attributes)(const wchar_t* path);
    // Marks the file or empty directory open as handle (with DELETE access)
    // for deletion when it closes. False when the system refuses.
    bool (*deletethrough)(HANDLE handle);
    // GetFinalPathNameByHandleW (flags 0): the length, 0 on failure. Null where
    // the system lacks the call (Windows XP).
    DWORD (*finalpath)(HANDLE handle, wchar_t* buffer, DWORD size);
    // The current directory becomes path (ANSI code page): true when it did.
    bool (*changedirectory)(const char* path);
    // The file-system flags (GetVolumeInformationW) of the volume that holds
    // path, without FILE_PERSISTENT_ACLS for a volume of another machine;
    // false when they cannot be read.
    bool (*volumeflags)(const wchar_t* path, DWORD* flags);
    // The security descriptor (owner, group and DACL, self-relative) of the
    // file or directory open as handle (with READ_CONTROL) into descriptor;
    // false when it cannot be read.
    bool (*descriptorof)(HANDLE handle, std::vector<unsigned char>& descriptor);
    // The user's own token without elevation (the token linked to an
    // elevated one, usable for access checks), which the caller closes; null
    // where there is none: the process is not elevated, or it runs with a
    // full token of its own (the built-in Administrator, UAC turned off,
    // Windows XP), and no less privileged process of the user exists.
    HANDLE (*limitedtoken)();
    // WaitForSingleObject.
    DWORD (*waitfor)(HANDLE object, DWORD milliseconds);
    // CreateProcessW with no security attributes, inherited handles, no
    // flags and the inherited environment. Nonzero when started.
    using createprocesscall = BOOL(const wchar_t* application, wchar_t* commandline, const wchar_t* directory,
                                   STARTUPINFOW* startup, PROCESS_INFORMATION* started);
    createprocesscall* createprocess;

    // Run-time lookups: null where the system lacks the call.
    // SetDefaultDllDirectories (Windows 8, and 7 with its DLL search update).
    winapifunction<BOOL(DWORD)>::pointer setdefaultdlldirectories;
    // NtAreMappedFilesTheSame: whether two addresses map views of one file.
    winapifunction<LONG(void*, void*)>::pointer mappedfilesthesame;
    // GetSystemWow64DirectoryW: the 32-bit system directory of 64-bit Windows.
    winapifunction<UINT(LPWSTR, UINT)>::pointer wow64directory;

    // Questions whose answer depends on the version.
    // Fills buffer with size bytes from the system's random number generator
    // (RtlGenRandom, on every version); false when it fails.
    bool (*randombytes)(void* buffer, ULONG size);
    // True when the process token is elevated (Vista and later with UAC);
    // false on Windows XP, where the token knows no elevation.
    bool (*tokenelevated)();
    // The major version of Windows NT the program runs on (5 for 2000 and
    // XP, 6 for Vista to 8.1 as the unmanifested call reports them), 0 when
    // the system is not Windows NT or cannot say.
    DWORD (*ntmajorversion)();
};

// The calls in use: the system's unless a test replaced some.
extern platformcalls platform;
// The system's calls.
platformcalls systemplatform();

// A runtime FILE in mode ("rb" or "wb") over file, which it takes over and
// closes with the FILE; null when the runtime cannot (the handle is closed).
FILE* crtfile(filehandle& file, const char* mode);
