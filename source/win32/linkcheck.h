// Checks that keep deleting and writing from going through a link: a
// junction, symbolic link or mount point (a reparse point) in a directory
// that other processes of the same user can write. A link is only ever
// removed as itself; what it points to is never listed, written or deleted.
//
// Windows opens a link itself when asked with FILE_FLAG_OPEN_REPARSE_POINT;
// Wine opens the link's target instead and reports links to files as plain
// files. So a path counts as plain only when its attributes show no reparse
// point and (where the system can say) the path the system resolves for it
// is the path that was asked for.
#pragma once

#include "handles.h"

#include <windows.h>

#include <string>

// True when attributes (GetFileAttributesW, FindFirstFileW) mark a reparse point.
inline bool isreparsepoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens path itself, never a link's target where the system can tell them
// apart, with access and the sharing given; files and directories alike.
// An empty owner when it cannot be opened.
filehandle openitself(const std::wstring& path, DWORD access, DWORD share);

// The path the system resolves for an open handle, in the \\?\ form of
// GetFinalPathNameByHandleW; empty where the system cannot say (Windows XP,
// which has junctions but no symbolic links: their attributes show them) or
// the call failed.
std::wstring resolvedpath(HANDLE handle);

// True where the system can resolve the path of a handle (Vista and later).
bool canresolve();

// The path the system should resolve for path: its parent as the system
// resolves it (through any link on the way: the parent is taken as it is)
// and path's own name, into expected. Empty where the system cannot resolve
// paths (then no comparison is made). False where it can but cannot
// resolve the parent: nothing there can be checked.
bool expectedbelowparent(const std::wstring& path, std::wstring& expected);

// True when the file or directory open as handle (by openitself on path) is
// no reparse point, a file with no second name (hard link), and its resolved
// path equals expected (in the form of resolvedpath; an empty expected skips
// that comparison). Where the system can resolve paths, one that it cannot
// resolve for handle is not plain.
bool isplain(HANDLE handle, const std::wstring& path, const std::wstring& expected);

// Deletes the file or empty directory open as handle (opened with DELETE
// access) when the handle is closed. False when the system refuses (a
// directory that is not empty, a read-only file).
bool deletethrough(HANDLE handle);

// Asked before anything is deleted: may the file, directory or link open as
// item (with READ_CONTROL) in the directory open as parent (null: unknown)
// go? A null check lets everything go.
using deletecheck = bool (*)(HANDLE item, HANDLE parent);

// Removes the link at path as a link, where the system allows it: only when
// the handle opened on path is the reparse point itself (so never under
// Wine, which opens the target), and allowed lets it go. True when it was removed.
bool removelink(const std::wstring& path, deletecheck allowed = nullptr, HANDLE parent = nullptr);

// Paths below one directory, checked one at a time against links. The
// directory itself (root) is trusted as the user configured it: a link above
// it is followed.
class linkcheck {
public:
    linkcheck() = default;
    explicit linkcheck(const std::wstring& root);
    // True when root + "\" + relative does not exist, or exists and neither
    // it nor a directory on the way to it is a link.
    bool plainornew(const std::wstring& relative) const;
    const std::wstring& root() const { return base; }

private:
    std::wstring base;
    std::wstring resolvedbase;
    // The system resolves paths but not the root's: nothing below counts as plain.
    bool unresolved = false;
};
