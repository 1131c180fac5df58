// The installer's workspace <WorkspaceDir>setup: one installer at a time per
// workspace, and, when the process runs elevated, a workspace that only
// administrators can change, so that nothing of the same user's
// non-elevated processes gets into the setup tree or between it and the
// hand-off.
#pragma once

#include "handles.h"

#include <windows.h>

#include <aclapi.h>

#include <string>

// The name of the mutex that serialises installers on the workspace below
// the temporary directory temp: "Local\" and a digest of the directory's
// identity (volume and file index), so that every spelling of one directory
// (long, short, another drive letter mapped to it) gives the same name; of
// its upper-case path where it cannot be opened.
std::wstring workspacelockname(const std::wstring& temp);
// Waits until no other installer works below temp and keeps it that way
// until the process ends. False when the lock could not be made.
bool lockworkspace(const std::wstring& temp);

// True when the process token is elevated (Vista and later with UAC);
// false on Windows XP, where the token knows no elevation.
bool tokenelevated();

// A security descriptor for the workspace: owner Administrators, a protected
// DACL with full control for SYSTEM and Administrators and read and execute
// for user, inherited by files and directories below.
class workspacedescriptor {
public:
    explicit workspacedescriptor(PSID user);
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
    unsigned char acl[512];
};

// The user of the process token as a SID in a buffer; empty when unknown.
std::string tokenuser();

// What preparing the workspace came to.
enum workspaceresult {
    WORKSPACE_READY = 0,
    // Elevated: the temporary directory is not the user's own (TEMP names a
    // directory of the system or of someone else), or cannot be opened.
    WORKSPACE_TEMP_NOT_OWNED,
    // Elevated: the temporary directory lies on a volume that keeps no ACLs
    // (FAT32, exFAT) or on another machine: nothing there can be protected.
    WORKSPACE_NO_ACLS,
    // What stands at the workspace's name could be neither removed nor moved aside.
    WORKSPACE_IN_USE,
    // The fresh workspace could not be made (or its descriptor built).
    WORKSPACE_NOT_MADE,
};

// For an elevated run, which takes the temporary directory temp from the
// user's environment: WORKSPACE_READY when it is the user's own directory on
// a volume that keeps ACLs, else WORKSPACE_TEMP_NOT_OWNED or WORKSPACE_NO_ACLS.
// No privilege is enabled: the directory is opened as any other.
int checktemporary(const std::wstring& temp);

// Makes workspace (<WorkspaceDir>setup; what the caller's deletion left
// there is moved aside under a new name, never adopted) a new, empty
// directory and holds it open until the process ends, without shared
// deletion, so that it can be neither renamed nor replaced. Elevated, it is
// made with the workspace descriptor in the same step as it is opened, so
// nothing of the user's other processes is ever inside it.
// WORKSPACE_READY, WORKSPACE_IN_USE or WORKSPACE_NOT_MADE.
int prepareworkspace(const std::wstring& workspace, bool elevated);

// True when the workspace this process made and holds is still what the path
// names; false when there is none, or the name leads elsewhere.
bool workspaceisheld(const std::wstring& workspace);

// Removes the workspace this process made while it is still empty (a package
// that could not be read leaves nothing behind), and lets it go.
void dropemptyworkspace(const std::wstring& workspace);
