// Test harness for driving the real executables under Wine: Windows paths for
// the build's files, scratch directories, and a process runner that captures
// standard output, sets the child's environment and enforces a time limit.
#pragma once

#include "testfiles.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace harness {

// A Unix path of the build tree as a Windows path (Z:\...).
std::wstring winpath(const std::string& unixpath);
// The bare program, the stand-in setup program, the tests' source directory.
std::wstring bootstrapexe();
std::wstring standinsetupexe();
std::wstring testsourcedir();
// A new, empty scratch directory for one test (removed first if present).
std::wstring scratchdir(const std::wstring& name);
// A new, empty scratch directory named after the running GoogleTest test.
std::wstring testscratchdir();

bool fileexists(const std::wstring& path);
std::string narrow(const std::wstring& w); // UTF-8, for messages
std::wstring widen(const std::string& s);  // from UTF-8

struct runoptions {
    std::wstring workdir; // empty: the test's own
    // Variables set (or, with an empty value, removed) in the child's environment.
    std::vector<std::pair<std::wstring, std::wstring>> env;
    // A hang guard, far above any honest run, also on a busy machine or in an
    // emulated one: a test that times out has found a hang, not slowness.
    DWORD timeoutms = 10 * 60 * 1000;
    // The application to start, when the command line's first word differs.
    std::wstring application;
    // Watch the child's "Warnning" boxes: record their text and press OK.
    bool watchwarnings = false;
};

struct warning {
    std::string text;
    // Whether the child's installer window ("Cwin") was visible meanwhile.
    bool installervisible = false;
};

struct runresult {
    DWORD exitcode = 0;
    bool timedout = false;
    bool started = false;
    DWORD starterror = 0;              // GetLastError of the last failed CreateProcessW, when not started
    std::string output;                // the child's standard output, CR LF read as LF
    std::vector<warning> warnings;     // with watchwarnings, in order of appearance
    bool installerseenvisible = false; // with watchwarnings, sampled while running
    // With watchwarnings: "class|title" of every visible top-level window the
    // child showed, once each, in order of appearance.
    std::vector<std::string> windows;
};

// Starts commandline (with options.application if given) and waits for it.
runresult run(const std::wstring& commandline, const runoptions& options = runoptions());

// Under Wine: makes link (a Windows path on drive Z:) a Unix symbolic link to
// target (a Unix path, relative to the link's directory or absolute), since
// Wine has no call that makes one; true when the link is there (a link to a
// directory as a reparse point). removeunixlink removes the link alone: under
// Wine, Windows calls on a link act on its target.
bool makeunixlink(const std::string& target, const std::wstring& link);
void removeunixlink(const std::wstring& link);

// A named mutex, as another process of the user could take it, whose DACL
// lets nobody open the name again (also not this process); null on failure.
HANDLE mutexnobodyopens(const std::wstring& name);

// A copy of src at dst with its size changed by delta bytes (appended bytes
// are 'x'; a negative delta cuts the end off).
bool copywithsize(const std::wstring& src, const std::wstring& dst, long delta);

} // namespace harness
