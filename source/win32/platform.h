// The installer's file-system calls in one table: the calls that create,
// open, rename, delete and protect, start the setup program, and the few
// questions asked about what they act on and who may act. The program uses the system's; a test puts its own in place
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
#include <vector>

struct filesystemcalls {
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
};

// The calls in use: the system's unless a test replaced some.
extern filesystemcalls filesystem;
// The system's calls.
filesystemcalls systemfilesystem();

// A runtime FILE in mode ("rb" or "wb") over file, which it takes over and
// closes with the FILE; null when the runtime cannot (the handle is closed).
FILE* crtfile(filehandle& file, const char* mode);
