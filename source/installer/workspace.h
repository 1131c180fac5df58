// The installer's workspace <WorkspaceDir>setup: one installer at a time per
// workspace, and, when the process runs elevated, a workspace that only
// administrators can change or open, reached only through what the
// installer holds, so that nothing of the same user's non-elevated processes
// gets into the setup tree or between it and the hand-off, and nothing the
// user could not change is deleted, moved or written.
#pragma once

#include "handles.h"
#include "installrun.h"

#include <windows.h>

#include <aclapi.h>

#include <string>

// What preparing the workspace came to.
enum workspaceresult {
    WORKSPACE_READY = 0,
    // The temporary directory cannot be opened (so it cannot be held).
    WORKSPACE_TEMP_UNOPENED,
    // Elevated: the temporary directory is the system's own (the Windows or
    // the system directory), never a temporary directory of anyone.
    WORKSPACE_TEMP_OF_SYSTEM,
    // Elevated: the user's own token without elevation may not make a
    // directory there, so the elevated run may not either.
    WORKSPACE_TEMP_NOT_WRITABLE,
    // Elevated: the temporary directory lies on a volume that keeps no ACLs
    // (FAT32, exFAT) or on another machine: nothing there can be protected.
    WORKSPACE_NO_ACLS,
    // What stands at the workspace's name could be neither removed nor moved aside.
    WORKSPACE_IN_USE,
    // The fresh workspace could not be made (or its descriptor built).
    WORKSPACE_NOT_MADE,
    // Another installer works in the workspace and waiting was given up, or
    // the lock's name is taken by someone who lets nobody in.
    WORKSPACE_LOCKED,
    // Not a refusal: the temporary directory has no narrow name, so nothing
    // is deleted or made (the worker then extracts nothing).
    WORKSPACE_NO_NARROW_NAME,
};

// The words of the refusal's log line for result ("" for WORKSPACE_READY).
const char* workspacerefusal(workspaceresult result);

// The name of the mutex that serialises installers on the workspace below
// the temporary directory temp: "Local\" and a digest of the directory's
// identity (volume and file index), so that every spelling of one directory
// (long, short, another drive letter mapped to it) gives the same name; of
// its upper-case path where it cannot be opened.
std::wstring workspacelockname(const std::wstring& temp);

// How long a hidden installer waits for another one to end before it gives
// up: an unattended install must end, with its exit code, and a name held
// forever by a process of the user must not keep it waiting.
const DWORD HIDDEN_LOCK_WAIT_MS = 10 * 60 * 1000;

// Takes the lock of the run's workspace and keeps it until the process ends.
// Where another installer holds it, a line says the run waits; a shown run
// says so in a box that goes by itself once the lock is free, and whose
// Cancel stops waiting; a hidden run waits at most HIDDEN_LOCK_WAIT_MS.
// WORKSPACE_READY, or WORKSPACE_LOCKED.
workspaceresult lockworkspace(const installrun& run);

// A security descriptor for the workspace: owner Administrators, a protected
// DACL with full control for SYSTEM and Administrators alone, inherited by
// files and directories below. The user's non-elevated processes neither
// open, map nor lock anything in it.
class workspacedescriptor {
public:
    workspacedescriptor();
    ~workspacedescriptor();
    workspacedescriptor(const workspacedescriptor&) = delete;
    workspacedescriptor& operator=(const workspacedescriptor&) = delete;
    // The descriptor, or null when it could not be built.
    PSECURITY_DESCRIPTOR get() { return ready ? &descriptor : nullptr; }
    PSID owner() { return administrators; }
    PACL dacl() { return reinterpret_cast<PACL>(acl); }

private:
    bool ready = false;
    SECURITY_DESCRIPTOR descriptor;
    unsigned char system[SECURITY_MAX_SID_SIZE];
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    unsigned char acl[256];
};

// For an elevated run, whose temporary directory comes from the user's
// environment: WORKSPACE_READY when the held directory is one the user's own
// token without elevation could make a directory in (always, where there is
// no such token: nobody less privileged acts beside the run), is not a
// directory of the system, and, where a less privileged user exists, lies on
// a volume that keeps ACLs; else why not. No privilege is enabled.
workspaceresult checktemporary(const installrun& run);

// Whether an elevated run may delete (or move aside) the file or directory
// open as item (with READ_CONTROL) in the directory open as parent (null:
// unknown): when the user's own token without elevation could do it anyway,
// when there is no such token, or when only administrators can open it (an
// elevated run made it: nothing of the user's can be owned by Administrators).
bool elevatedmaydelete(HANDLE item, HANDLE parent);

// Removes what earlier runs moved aside (<WorkspaceDir>setup.<hex digits>)
// as far as it can (link-safely, and elevated only what elevatedmaydelete
// allows). The number that stays is bounded: see prepareworkspace.
void removeleftovers(const installrun& run);

// Makes the run's workspace (<WorkspaceDir>setup; what the caller's deletion
// left there is moved aside under a name nobody can predict, never adopted)
// a new, empty directory below the held temporary directory and holds it
// open until the process ends, without shared deletion, so that it can be
// neither renamed nor replaced. Elevated, it is made with the workspace
// descriptor in the same step as it is opened, so nothing of the user's
// other processes is ever inside it. WORKSPACE_READY, WORKSPACE_IN_USE (also
// when earlier leftovers that cannot go reach their bound) or WORKSPACE_NOT_MADE.
workspaceresult prepareworkspace(const installrun& run);

// True when the workspace this process made and holds is still what the path
// names; false when there is none, or the name leads elsewhere.
bool workspaceisheld(const std::wstring& workspace);

// Removes the workspace this process made while it is still empty (a package
// that could not be read leaves nothing behind), and lets it go.
void dropemptyworkspace(const std::wstring& workspace);
