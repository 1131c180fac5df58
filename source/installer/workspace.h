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

// The name of the mutex that serialises installers on workspace (a full
// path): "Local\" and a digest of its upper-case form.
std::wstring workspacelockname(const std::wstring& workspace);
// Waits until no other installer works in workspace and keeps it that way
// until the process ends. False when the lock could not be made (the
// installer then goes on alone).
bool lockworkspace(const std::wstring& workspace);

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

// Gives an existing workspace directory (not a link) the workspace
// descriptor, before anything in it is deleted. False when it is missing,
// a link, or the system refused.
bool takeoverworkspace(const std::wstring& workspace);
// Creates the workspace with the descriptor, or takes over what could not
// be removed, and holds it open so that it cannot be moved away and
// replaced by a link while the process runs. False when the workspace is a
// link that stays, or cannot be made.
bool claimworkspace(const std::wstring& workspace);

// True when the workspace is missing or a plain directory; false when it is
// a link (or reached through one): nothing may be written or started there.
bool workspaceisplain();
