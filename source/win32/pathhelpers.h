// Conversions between ANSI-code-page and UTF-16 strings, and both forms of
// WorkspaceDir, the user's temporary directory with its trailing backslash.
#pragma once

#include <string>

// A malloc'ed, zero-filled UTF-16 copy of s (2n + 1 bytes, n counting the
// terminator); the caller frees it.
wchar_t* ansitowidebuf(const char* s);
// s converted from the ANSI code page; empty when the conversion fails.
std::wstring ansitowide(const std::string& s);
// w converted to the ANSI code page (unmappable characters become the
// system's default character); empty when the conversion fails.
std::string widetoansi(const std::wstring& w);
// GetTempPathW's answer, asked afresh on every call; once pinned, the pinned
// directory.
std::wstring workspacedirw();
// From now on WorkspaceDir is dir (with its trailing backslash), whatever the
// environment says: the installer names its temporary directory by what it
// holds, never again by a name that may lead elsewhere meanwhile.
void pinworkspacedir(const std::wstring& dir);
// WorkspaceDir as a narrow path that names the same directory: the ANSI form,
// or, when the ANSI code page cannot hold the name, its short (8.3) form.
// Empty when neither names it (no short names on the volume): callers must
// then write nothing through a narrow path.
std::string workspacedir();
