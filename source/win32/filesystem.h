// The installer's file-system calls in one table: the calls that create,
// open, rename, delete and protect, and the few questions asked about what
// they act on. The program uses the system's; a test puts its own in place
// to make one fail, or to change the tree between two steps as another
// process of the same user could. Neither Wine nor a test's own account can
// produce most of those conditions (read-only leftovers that will not go,
// refused ownership, volumes without ACLs, a resolved path that cannot be
// read), so this is where they are driven.
#pragma once

#include "handles.h"

#include <windows.h>

#include <cstdio>
#include <string>

struct filesystemcalls {
    // CreateFileW with no template. INVALID_HANDLE_VALUE on failure.
    using createfilecall = HANDLE(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* attributes,
                                  DWORD disposition, DWORD flags);
    createfilecall* createfile;
    // Creates the directory path, which must not exist, with descriptor (null:
    // inherited from its parent) and opens it with access and share in the
    // same step: nothing can stand in for it between the two. Never follows
    // a link at path. INVALID_HANDLE_VALUE on failure.
    HANDLE (*createdirectorynew)(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor, DWORD access, DWORD share);
    // CreateDirectoryW with the parent's inherited descriptor: nonzero when made.
    BOOL (*createdirectory)(const wchar_t* path);
    // Renames the file or directory open as handle (with DELETE access) to
    // the full path to, on the same volume; never replaces what stands
    // there. Acts on what the handle is, never on a name looked up again.
    bool (*renamethrough)(HANDLE handle, const wchar_t* to);
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
    // The owner of the file or directory open as handle (with READ_CONTROL),
    // copied into owner (SECURITY_MAX_SID_SIZE bytes); false when unknown.
    bool (*ownerof)(HANDLE handle, void* owner);
};

// The calls in use: the system's unless a test replaced some.
extern filesystemcalls filesystem;
// The system's calls.
filesystemcalls systemfilesystem();

// A runtime FILE in mode ("rb" or "wb") over file, which it takes over and
// closes with the FILE; null when the runtime cannot (the handle is closed).
FILE* crtfile(filehandle& file, const char* mode);
