// Installer mode: the window that carries the splash, starts the extraction
// worker and hands over to the setup program.
#pragma once

#include "installrun.h"
#include "workspace.h"

#include <windows.h>

#include <string>

// Sent by the extraction worker when the setup tree is on disk; its wParam
// is HANDOFF_STOP when the setup program must not be started.
const UINT WM_UNZIPDONE = WM_USER + 1;
const WPARAM HANDOFF_GO = 0;
const WPARAM HANDOFF_STOP = 1;

// The line for a refusal of the workspace, and a box unless the run is
// hidden (an unattended install must never wait for a click); -1.
int refuseworkspace(const installrun& run, const char* why);

// Deletes <WorkspaceDir>setup with everything below it (elevated, only what
// the run may delete), removes earlier leftovers and makes a fresh, held
// workspace in its place (prepareworkspace): WORKSPACE_READY, or why not
// (WORKSPACE_NO_NARROW_NAME: nothing is deleted or made, not a refusal).
workspaceresult intitemp(const installrun& run);

class installwindow {
public:
    // The run decides whether the window shows; it must outlive the window.
    explicit installwindow(const installrun& forrun) : run(forrun) {}
    // Reads the primary screen's size for centring.
    void getscreensize();
    // Registers the class and creates, centres and shows (or hides) the
    // window. False when the class cannot be registered or the window not created.
    bool createwindow(const wchar_t* classname, WNDPROC procedure, UINT classstyle, int brush, DWORD style);
    // Runs until the quit message or an error; the last message's wParam.
    WPARAM messageloop();
    // The object a window was created by, from its WM_CREATE on; null for
    // another window.
    static installwindow* of(HWND window);

    const installrun& run;
    // The window, once WM_CREATE has reached installwndproc.
    HWND handle = nullptr;

private:
    int screenwidth = 0;
    int screenheight = 0;
};

LRESULT CALLBACK installwndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Extracts the setup tree of the run's package into its workspace and
// stamps setup\config.xml; shows nothing.
extractionoutcome extractsetup(const installrun& run);
// The extraction worker; its parameter is the installwindow. Shows the
// warning the outcome calls for, then sends WM_UNZIPDONE.
DWORD WINAPI unzipthread(LPVOID installer);

// The WM_UNZIPDONE branch: channel file, uninstaller, setup program, end;
// with HANDOFF_STOP nothing is started and the process ends with -1.
LRESULT handoff(HWND window, const installrun& run, WPARAM go);
// Starts the program at path with its own quoted path as its command line
// (and no arguments), in directory (empty: the installer's own current
// directory), activates its window and waits for it to end. 0; ends the
// process with -1 when the program cannot be started.
int runsetup(const std::string& path, const std::string& directory);
// The first top-level window in Z order that belongs to process id, or null.
HWND findprocesswindow(DWORD id);
