#include "installer.h"

#include "platform.h"
#include "handles.h"
#include "iconreplace.h"
#include "packagerules.h"
#include "pathhelpers.h"
#include "splash.h"
#include "workspace.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The package's file name after the last "/", or else the last "\", for the
// setup program. Nothing is written when argv[0] holds neither.
void writechannel(const std::string& workspace, const std::string& own)
{
    size_t separator = own.rfind('/');
    if (separator == std::string::npos) separator = own.rfind('\\');
    if (separator == std::string::npos) return;
    std::string name = own.substr(separator + 1);
    stdiofile channel(fopen((workspace + "setup\\channel.cfg").c_str(), "wb+"));
    if (!channel) return;
    fwrite(name.data(), 1, name.size(), channel.get());
}

} // namespace

LRESULT handoff(HWND window, const installrun& run, WPARAM go)
{
    const std::string& workspace = run.workspacedir;
    // Without a narrow name for the workspace nothing was extracted, and a
    // relative "setup\\..." must not start what the current directory holds;
    // a workspace that is not the one this run made and holds (gone, or its
    // name now leads elsewhere): nothing is written or started there; nor
    // after a configuration that could not be stamped.
    if (go == HANDOFF_STOP || workspace.empty() || !workspaceisheld(run.setupdirw())) {
        ShowWindow(window, SW_HIDE);
        stopsplashanimation();
        exit(-1);
    }
    writechannel(workspace, run.packagepath);
    // TRUE: an uninstaller the package already carries is kept.
    CopyFileA((workspace + PACKAGE_SETUP_PROGRAM).c_str(), (workspace + "setup\\uninstall.exe").c_str(), TRUE);
    const std::wstring& wideworkspace = run.workspacedirw;
    replaceicon((wideworkspace + L"setup\\" + L"uninstallicon.ico").c_str(),
                (wideworkspace + L"setup\\" + L"uninstall.exe").c_str());
    ShowWindow(window, SW_HIDE);
    // Elevated, the setup program starts in its own directory, which only
    // administrators can change: a DLL it looks for in its current
    // directory cannot come from the user's temporary directory.
    runsetup(workspace + PACKAGE_SETUP_PROGRAM, run.elevated ? workspace + PACKAGE_SETUP_TREE : std::string());
    // Windows 2000 and XP: the process ends here, later versions let the window go.
    if (platform.ntmajorversion() == 5) {
        stopsplashanimation();
        exit(0);
    }
    SendMessageW(window, WM_DESTROY, 0, 0);
    return 0;
}

HWND findprocesswindow(DWORD id)
{
    for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        if (GetWindowThreadProcessId(window, &owner) && owner == id) return window;
    }
    return nullptr;
}

int runsetup(const std::string& path, const std::string& directory)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    crtbuffer<wchar_t> application(ansitowidebuf(path.c_str()));
    // Its own path, quoted, and nothing after it: a path with spaces must
    // not reach the program as arguments. The system may write into it.
    std::wstring commandline = L"\"" + std::wstring(application.get()) + L"\"";
    std::wstring current = directory.empty() ? std::wstring() : ansitowide(directory);
    PROCESS_INFORMATION started = {};
    // Inherited handles and environment.
    if (!platform.createprocess(application.get(), &commandline[0], current.empty() ? nullptr : current.c_str(),
                                &startup, &started)) {
        stopsplashanimation();
        exit(-1);
    }
    kernelhandle thread(started.hThread);
    kernelhandle process(started.hProcess);
    SetActiveWindow(findprocesswindow(started.dwProcessId));
    thread.reset();
    WaitForSingleObject(process.get(), INFINITE);
    return 0;
}
