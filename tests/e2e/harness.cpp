#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <map>

namespace harness {

namespace {

std::wstring towin(std::wstring p)
{
    std::replace(p.begin(), p.end(), L'/', L'\\');
    return p;
}

void removetree(const std::wstring& dir)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = dir + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removetree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

DWORD WINAPI drainpipe(void* param)
{
    auto* ctx = static_cast<std::pair<HANDLE, std::string*>*>(param);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(ctx->first, buffer, sizeof buffer, &got, nullptr) && got > 0) ctx->second->append(buffer, got);
    return 0;
}

std::wstring upper(std::wstring s)
{
    for (auto& c : s) c = wchar_t(towupper(c));
    return s;
}

std::vector<wchar_t> environmentblock(const std::vector<std::pair<std::wstring, std::wstring>>& changes)
{
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> vars; // by upper-case name
    wchar_t* env = GetEnvironmentStringsW();
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        std::wstring name = entry.substr(0, eq);
        vars[upper(name)] = {name, entry.substr(eq + 1)};
    }
    FreeEnvironmentStringsW(env);
    for (const auto& change : changes) {
        if (change.second.empty())
            vars.erase(upper(change.first));
        else
            vars[upper(change.first)] = change;
    }
    std::vector<wchar_t> block;
    for (const auto& v : vars) {
        std::wstring entry = v.second.first + L"=" + v.second.second;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}

struct watchstate {
    DWORD process = 0;
    volatile LONG stop = 0;
    std::vector<HWND> seen;
    std::vector<warning>* warnings = nullptr;
    bool* visible = nullptr;
    std::vector<std::string>* windows = nullptr;
};

std::wstring windowtext(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring classof(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

BOOL CALLBACK findstatic(HWND child, LPARAM param)
{
    auto* text = reinterpret_cast<std::wstring*>(param);
    if (_wcsicmp(classof(child).c_str(), L"Static") == 0 && !windowtext(child).empty()) {
        *text = windowtext(child);
        return FALSE;
    }
    return TRUE;
}

struct topwindows {
    DWORD process;
    std::vector<HWND> boxes;
    HWND installer = nullptr;
    std::vector<std::string> shown;
};

BOOL CALLBACK collect(HWND window, LPARAM param)
{
    auto* found = reinterpret_cast<topwindows*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != found->process) return TRUE;
    if (IsWindowVisible(window)) found->shown.push_back(narrow(classof(window) + L"|" + windowtext(window)));
    if (classof(window) == L"Cwin")
        found->installer = window;
    else if (windowtext(window) == L"Warnning" && IsWindowVisible(window))
        found->boxes.push_back(window);
    return TRUE;
}

DWORD WINAPI watchwarnings(void* param)
{
    auto* state = static_cast<watchstate*>(param);
    while (!state->stop) {
        topwindows found{state->process, {}, nullptr, {}};
        EnumWindows(collect, reinterpret_cast<LPARAM>(&found));
        bool visible = found.installer && IsWindowVisible(found.installer);
        if (visible) *state->visible = true;
        for (const std::string& shown : found.shown)
            if (std::find(state->windows->begin(), state->windows->end(), shown) == state->windows->end())
                state->windows->push_back(shown);
        for (HWND box : found.boxes) {
            if (std::find(state->seen.begin(), state->seen.end(), box) != state->seen.end()) continue;
            std::wstring text;
            // The box may still be filling in its controls.
            for (int tries = 0; tries < 50 && text.empty(); ++tries) {
                EnumChildWindows(box, findstatic, reinterpret_cast<LPARAM>(&text));
                if (text.empty()) Sleep(10);
            }
            state->seen.push_back(box);
            state->warnings->push_back({narrow(text), visible});
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(10);
    }
    return 0;
}

} // namespace

std::wstring winpath(const std::string& unixpath)
{
    if (unixpath.size() > 1 && unixpath[1] == ':') return towin(widen(unixpath));
    return L"Z:" + towin(widen(unixpath));
}

std::wstring bootstrapexe() { return winpath(BOOTSTRAP_EXE); }
std::wstring standinsetupexe() { return winpath(STANDIN_SETUP_EXE); }
std::wstring testsourcedir() { return winpath(TEST_SOURCE_DIR); }

std::wstring scratchdir(const std::wstring& name)
{
    std::wstring root = winpath(TEST_BINARY_DIR) + L"\\scratch";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring dir = root + L"\\" + name;
    removetree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::wstring testscratchdir()
{
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return scratchdir(widen(name));
}

bool fileexists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring widen(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    return w;
}

runresult run(const std::wstring& commandline, const runoptions& options)
{
    runresult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readend = nullptr, writeend = nullptr;
    if (!CreatePipe(&readend, &writeend, &inherit, 0)) return result;
    SetHandleInformation(readend, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeend;
    si.hStdError = writeend;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> cmd(commandline.begin(), commandline.end());
    cmd.push_back(0);
    std::vector<wchar_t> env = environmentblock(options.env);
    // A start that fails ran nothing of the child: under a loaded Wine it
    // has failed now and then at once (in tens of milliseconds, no output),
    // so it is tried again a few times, and said, before the run counts as
    // not started.
    BOOL ok = FALSE;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        ok = CreateProcessW(options.application.empty() ? nullptr : options.application.c_str(), cmd.data(), nullptr,
                            nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                            options.workdir.empty() ? nullptr : options.workdir.c_str(), &si, &pi);
        if (!ok) {
            result.starterror = GetLastError();
            fprintf(stderr, "harness: the child did not start (error %lu)\n", (unsigned long)result.starterror);
        }
    }
    CloseHandle(writeend);
    if (!ok) {
        CloseHandle(readend);
        return result;
    }
    result.started = true;
    std::pair<HANDLE, std::string*> ctx{readend, &result.output};
    HANDLE reader = CreateThread(nullptr, 0, drainpipe, &ctx, 0, nullptr);
    watchstate watch;
    watch.process = pi.dwProcessId;
    watch.warnings = &result.warnings;
    watch.visible = &result.installerseenvisible;
    watch.windows = &result.windows;
    HANDLE watcher = options.watchwarnings ? CreateThread(nullptr, 0, watchwarnings, &watch, 0, nullptr) : nullptr;
    if (WaitForSingleObject(pi.hProcess, options.timeoutms) == WAIT_TIMEOUT) {
        result.timedout = true;
        TerminateProcess(pi.hProcess, 0xdead);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &result.exitcode);
    if (watcher) {
        InterlockedExchange(&watch.stop, 1);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    // Grandchildren may still hold the pipe: give the reader a bounded wait.
    if (WaitForSingleObject(reader, 5000) == WAIT_TIMEOUT) TerminateThread(reader, 0);
    CloseHandle(reader);
    CloseHandle(readend);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Standard output is in text mode: compare lines with plain line ends.
    std::string lf;
    for (size_t i = 0; i < result.output.size(); ++i)
        if (!(result.output[i] == '\r' && i + 1 < result.output.size() && result.output[i + 1] == '\n'))
            lf += result.output[i];
    result.output = lf;
    return result;
}

namespace {

// Z:\a\b as /a/b, in UTF-8.
std::string unixpathof(const std::wstring& path)
{
    std::wstring unix =
        path.size() > 1 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':' ? path.substr(2) : path;
    std::replace(unix.begin(), unix.end(), L'\\', L'/');
    return narrow(unix);
}

// Under Wine the test program is a Linux process of its own: a link is made
// and removed with the kernel's symlink and unlink calls through the system
// call gate of the program's width (int 0x80 for 32-bit x86, syscall for
// x86-64; the call numbers differ too). (A Unix program started through
// CreateProcessW cannot be waited for.)
enum linuxfunction { LINUX_UNLINK, LINUX_SYMLINK };

long linuxcall(linuxfunction function, const char* first, const char* second)
{
#if defined(__i386__)
    const long number = function == LINUX_UNLINK ? 10 : 83;
    long result;
    asm volatile("int $0x80" : "=a"(result) : "a"(number), "b"(first), "c"(second) : "memory");
    return result;
#elif defined(__x86_64__)
    const long number = function == LINUX_UNLINK ? 87 : 88;
    long result;
    asm volatile("syscall" : "=a"(result) : "a"(number), "D"(first), "S"(second) : "rcx", "r11", "memory");
    return result;
#else
#error "no Linux system call gate for this processor"
#endif
}

} // namespace

bool makeunixlink(const std::string& target, const std::wstring& link)
{
    if (linuxcall(LINUX_SYMLINK, target.c_str(), unixpathof(link).c_str()) != 0) return false;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(link.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    // Wine shows a link to a directory as a reparse point, a link to a file as the file.
    const DWORD directorylink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
           (data.dwFileAttributes & directorylink) == directorylink;
}

void removeunixlink(const std::wstring& link) { linuxcall(LINUX_UNLINK, unixpathof(link).c_str(), nullptr); }

bool copywithsize(const std::wstring& src, const std::wstring& dst, long delta)
{
    std::string bytes = testfiles::readfile(src);
    if (bytes.empty()) return false;
    if (delta >= 0)
        bytes.append(size_t(delta), 'x');
    else
        bytes.resize(bytes.size() - size_t(-delta));
    return testfiles::writefile(dst, bytes);
}

HANDLE mutexnobodyopens(const std::wstring& name)
{
    SECURITY_DESCRIPTOR nobody;
    ACL empty;
    if (!InitializeSecurityDescriptor(&nobody, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(&empty, sizeof empty, ACL_REVISION) || !SetSecurityDescriptorDacl(&nobody, TRUE, &empty, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &nobody, FALSE};
    return CreateMutexW(&attributes, FALSE, name.c_str());
}

} // namespace harness
