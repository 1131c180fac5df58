// Installer mode: the window that carries the splash, starts the extraction
// worker and hands over to the setup program.
#pragma once

#include <windows.h>

#include <string>

// Sent by the extraction worker when the setup tree is on disk.
const UINT WM_UNZIPDONE = WM_USER + 1;

// Deletes <WorkspaceDir>setup with everything below it; the deletion's result.
bool intitemp();

class installwindow {
public:
    // argc of the process: two or more arguments keep the window hidden.
    explicit installwindow(int argc) : argumentcount(argc) {}
    // Reads the primary screen's size for centring.
    void getscreensize();
    // Registers the class and creates, centres and shows (or hides) the
    // window. False when the class cannot be registered or the window not created.
    bool createwindow(const wchar_t* classname, WNDPROC procedure, UINT classstyle, int brush, DWORD style);
    // Runs until the quit message or an error; the last message's wParam.
    WPARAM messageloop();

private:
    int argumentcount;
    int screenwidth = 0;
    int screenheight = 0;
};

LRESULT CALLBACK installwndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The extraction worker; its parameter is the installer window.
DWORD WINAPI unzipthread(LPVOID window);

// The WM_UNZIPDONE branch: channel file, uninstaller, setup program, end.
LRESULT handoff(HWND window);
// Starts the program at path, activates its window and waits for it to end.
// 0; ends the process with -1 when the program cannot be started.
int runsetup(const std::string& path);
// The first top-level window in Z order that belongs to process id, or null.
HWND findprocesswindow(DWORD id);
