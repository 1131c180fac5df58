#include "installer.h"

#include "filelist.h"
#include "handles.h"
#include "logline.h"
#include "packagerules.h"
#include "pathhelpers.h"
#include "splash.h"
#include "startup.h"
#include "workspace.h"

#include <gdiplus.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t WINDOW_TITLE[] = L"Morvane\u5b89\u88c5\u7a0b\u5e8f";

} // namespace

int refuseworkspace(const installrun& run, const char* why)
{
    logline("main", "intitemp", 394, "workspace <%s> refused: %s\n", widetoansi(run.setupdirw()).c_str(), why);
    if (!run.hidden) MessageBoxW(nullptr, L"Cannot prepare the setup directory!", L"Warnning", MB_OK);
    return -1;
}

workspaceresult intitemp(const installrun& run)
{
    const std::string& workspace = run.workspacedir;
    std::wstring widepath = run.setupdirw();
    // Without a narrow name the line shows the name as the code page can.
    std::string path = workspace.empty() ? widetoansi(widepath) : workspace + PACKAGE_SETUP_TREE;
    logline("main", "intitemp", 392, "delete path is <%s>\n", path.c_str());
    // Without a narrow name for the workspace, "setup" alone would be relative.
    if (workspace.empty()) return WORKSPACE_NO_NARROW_NAME;
    // Elevated, the user's own temporary directory is checked before
    // anything in it is touched.
    if (run.elevated) {
        workspaceresult checked = checktemporary(run);
        if (checked != WORKSPACE_READY) return checked;
    }
    filelist::deletepath(path, run.elevated ? elevatedmaydelete : nullptr, run.temporary.get());
    removeleftovers(run);
    return prepareworkspace(run);
}

void installwindow::getscreensize()
{
    screenwidth = GetSystemMetrics(SM_CXSCREEN);
    screenheight = GetSystemMetrics(SM_CYSCREEN);
}

bool installwindow::createwindow(const wchar_t* classname, WNDPROC procedure, UINT classstyle, int brush, DWORD style)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = classstyle;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // NULL_BRUSH: the system never erases what the splash draws.
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(brush));
    wc.lpszClassName = classname;
    if (!RegisterClassExW(&wc)) return false;

    HWND window = CreateWindowExW(0, classname, WINDOW_TITLE, style, (screenwidth - SPLASH_WIDTH) / 2,
                                  (screenheight - SPLASH_HEIGHT) / 2, SPLASH_WIDTH, SPLASH_HEIGHT, nullptr, nullptr,
                                  instance, this);
    if (!window) return false;
    bool hidden = run.hidden;
    // Taken while the window still hides it; a hidden window is never painted
    // and needs no copy.
    if (!hidden) capturesplashbackdrop(window);
    ShowWindow(window, hidden ? SW_HIDE : SW_SHOWNORMAL);
    UpdateWindow(window);
    return true;
}

WPARAM installwindow::messageloop()
{
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) == 1) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return message.wParam;
}

installwindow* installwindow::of(HWND window)
{
    return reinterpret_cast<installwindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK installwndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        installwindow* installer =
            static_cast<installwindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        installer->handle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(installer));
        startsplashanimation(window);
        // The worker's handle is not kept: it reports back with WM_UNZIPDONE.
        kernelhandle worker(CreateThread(nullptr, 0, unzipthread, installer, 0, nullptr));
        return 0;
    }
    case WM_PAINT:
        plainline("%s\n", "111111111");
        paintsplash(window);
        return 0;
    case WM_UNZIPDONE: return handoff(window, installwindow::of(window)->run, wparam);
    case WM_DESTROY:
        // The strip's thread draws through GDI+: it must be gone first.
        stopsplashanimation();
        if (gdiplustoken) Gdiplus::GdiplusShutdown(gdiplustoken);
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

int runinstaller(const installrun& run)
{
    // Before anything in the workspace changes, and before any window shows.
    // Without the lock (a name another process took and denies access to)
    // nothing goes on: two installers would work in one workspace.
    workspaceresult locked = lockworkspace(run);
    if (locked != WORKSPACE_READY) return refuseworkspace(run, workspacerefusal(locked));
    // GDI+ and the two pictures serve only a window that is shown: a hidden
    // installer neither loads nor decodes them, and draws no strip.
    if (!run.hidden) {
        startgdiplus();
        loadsplashimages();
    }
    workspaceresult prepared = intitemp(run);
    if (prepared != WORKSPACE_READY && prepared != WORKSPACE_NO_NARROW_NAME)
        return refuseworkspace(run, workspacerefusal(prepared));
    installwindow window(run);
    window.getscreensize();
    // Without a window no worker starts and no quit message would ever come.
    if (!window.createwindow(L"Cwin", installwndproc, CS_HREDRAW | CS_VREDRAW, NULL_BRUSH, 0x86000000)) return -1;
    window.messageloop();
    return 0;
}
