// One install run: what the installer's parts need to know of this run,
// made once from the arguments and the system and handed to the window, the
// extraction worker, the hand-off and the stamping.
#pragma once

#include "handles.h"

#include <string>

struct installrun {
    // argv[0] exactly as received: stamped into setup\config.xml, and the
    // name written to setup\channel.cfg is taken from it.
    std::string packagepath;
    // The program's own file as the system names it (argv[0] may be
    // relative, or lack the extension), opened once at the start: the
    // archives are read through this handle, so a file put in its place
    // later (a running program can be renamed) is never read.
    filehandle package;
    // The process runs elevated: the workspace is made for administrators only.
    bool elevated = false;
    // Two or more arguments, or a VQNAUTOI inherited from the parent that
    // begins with 1: the window stays hidden.
    bool hidden = false;
    // The temporary directory, held from the start of the run to its end
    // (holdtemporary): empty when it could not be opened.
    filehandle temporary;
    // <WorkspaceDir>, the user's temporary directory with its trailing
    // backslash; the narrow form is empty when the code page cannot name it.
    std::string workspacedir;
    std::wstring workspacedirw;

    // The installer's workspace: <WorkspaceDir>setup.
    std::wstring setupdirw() const { return workspacedirw + L"setup"; }
};

// The program's own file opened for reading (shared reading and deletion,
// never writing); an empty owner when it cannot be opened, or when what
// opens under its name is not the image the system started (a running
// program can be renamed and another file put under its name).
filehandle openownfile();

// True when file is the file of the image the system started for this
// process; also true where the system cannot compare (before the call
// existed), false when the two differ or file cannot be mapped.
bool isrunningimage(HANDLE file);

// Opens the run's temporary directory and holds it until the process ends
// (run.temporary), without shared deletion, so it cannot be renamed. Where
// the system can name what a handle is (Vista and later) and the run is
// elevated, WorkspaceDir is pinned to that name (the held directory's final
// path: no link on it, and no directory on it can be renamed while a handle
// below is open), so no later step looks up a name the user can redirect.
// False when the directory cannot be opened.
bool holdtemporary(installrun& run);

// The run of a process started with argc and argv whose own file is open as
// package (openownfile), its temporary directory held (holdtemporary).
// Reads VQNAUTOI only when fewer than two arguments were given (otherwise
// the arguments decide).
installrun makeinstallrun(int argc, char** argv, filehandle package);

// What the extraction worker reports.
struct extractionoutcome {
    // The package was found and both archives digested.
    bool opened = false;
    // Every entry of archive A was read and written, or skipped as a file
    // that cannot be created.
    bool complete = false;
    // Both digests equal the trailer's.
    bool digestsmatch = false;
    // setup\config.xml names the package (or there was nothing to stamp:
    // no workspace, or a configuration that gave no text).
    bool stamped = true;
};
