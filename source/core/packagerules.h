// The package's contract, the same for every tool that writes or reads one
// (the builder, the native packer, the inspector, the installer): the names
// of its trees and files, its size limit, how its entries are written, and
// what a package may not hold: one vocabulary of rules, each with the text
// every tool that applies it says, checked over a walked tree. No platform
// header: it builds natively too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The trees a package carries: archive A holds setup, archive B app; every
// entry name begins with its tree's name.
const char PACKAGE_SETUP_TREE[] = "setup";
const char PACKAGE_APP_TREE[] = "app";
// The program the installer starts, as an entry name of archive A (and its
// path below the workspace); the same program's name in the setup tree.
const char PACKAGE_SETUP_PROGRAM[] = "setup\\rEdizo.exe";
const char PACKAGE_SETUP_PROGRAM_FILE[] = "rEdizo.exe";
// The icon file in the setup tree whose images the package's program shows.
const char PACKAGE_ICON_FILE[] = "LoaderIcon.ico";
// What the builder writes in its current directory, and the two archives it
// writes first in the user's temporary directory (archive A, archive B).
const char PACKAGE_FILE_NAME[] = "install_test.exe";
const char PACKAGE_ARCHIVE_A_FILE[] = "qlib.zip";
const char PACKAGE_ARCHIVE_B_FILE[] = "test.zip";

// Every position in a package is a signed 32-bit file position: a package,
// and so every file it holds, stays below 2 GiB.
const uint64_t PACKAGE_SIZE_LIMIT = 0x80000000u;

// How every entry is written, by the builder and the packer alike: deflated
// (ZIP method 8) as one raw stream at level 9 with window bits 15, memory
// level 8 and the default strategy (minizip's own settings when it deflates
// an entry itself), no time stamps, no attributes, no directory entries, and
// the text flag from deflate's own guess.
const int ENTRY_METHOD = 8;
const int ENTRY_LEVEL = 9;
const int ENTRY_WINDOW_BITS = 15;
const int ENTRY_MEMORY_LEVEL = 8;
const int ENTRY_STRATEGY = 0;

// Or, for archive A when the native packer is asked for LZMA: LZMA (ZIP
// method 14, with the end-of-stream marker and flag bit 1 saying so) at
// level 9 extreme, each entry's dictionary the smallest 2^n or 3 * 2^(n-1)
// bytes from 4 KiB up that holds it, so the installer never needs more than
// the entry's size to decode it; an entry LZMA does not make smaller is
// deflated as above. Archive B is always deflated.
const int ENTRY_LZMA_METHOD = 14;
const uint16_t ENTRY_LZMA_END_MARKER = 0x0002;
const int ENTRY_LZMA_LEVEL = 9;
const uint32_t ENTRY_LZMA_SMALLEST_DICTIONARY = 4096;

// What a package may not hold. Which tool refuses what, with which text,
// stands in one table (packagerules.cpp).
enum packagerule {
    RULE_NONE = 0,
    RULE_LOOP,             // a directory that leads back into the walk
    RULE_CASE_TWIN,        // a name that differs only in case from another in its directory
    RULE_FILE_SIZE,        // a file of PACKAGE_SIZE_LIMIT bytes or more
    RULE_UNREADABLE,       // a file or directory that cannot be read
    RULE_NOT_FILE,         // neither a file nor a directory
    RULE_WINDOWS_NAME,     // a character no Windows file name holds
    RULE_NOT_UTF8,         // a name that is not UTF-8 where names are read as UTF-8
    RULE_CODE_PAGE,        // a name the package's ANSI code page cannot hold
    RULE_NO_SETUP_TREE,    // no setup tree
    RULE_NO_SETUP_PROGRAM, // no setup program
    RULE_PACKAGE_SIZE,     // the package would reach PACKAGE_SIZE_LIMIT
    RULE_UNSAFE_NAME,      // an entry name the installer refuses (entryname.h)
    RULE_NAMED_TWICE,      // two entries with one name: the later replaces the earlier
    RULE_FILE_ON_PATH,     // an entry below a name that another entry holds as a file
    RULE_DIRECTORY_NEEDED, // a file whose name another entry needs as a directory
};

// The tools that apply the rules.
enum packagetool { TOOL_BUILDER, TOOL_PACKER, TOOL_INSPECTOR };

// One step of a walk over a tree to be packed, in the order an archive
// receives it: a file, the end of a directory, or what the walk met instead.
struct walkstep {
    enum kindtype {
        FILE_ENTRY,    // a file: size holds its size
        DIRECTORY_END, // a directory's files are done; path ends in a separator
        UNLISTABLE,    // a directory or file that cannot be read
        LOOP,          // a directory that is one the walk is inside
        CASE_TWIN,     // a name that differs only in case from one met before
        NOT_FILE,      // neither a file nor a directory
        WINDOWS_NAME,  // a name with a character Windows file names cannot hold
        NOT_UTF8,      // a name that is not UTF-8
        CODE_PAGE,     // a name the code page cannot hold
    } kind;
    // The file or directory; for LOOP the directory met again, for CASE_TWIN
    // the name left out.
    std::string path;
    uint64_t size = 0; // FILE_ENTRY: its size in bytes
    // LOOP: the directory of the walk it is the same as; CASE_TWIN: the name
    // met first; UNLISTABLE: the system's reason, where the walk knows it;
    // CODE_PAGE: the code page's number.
    std::string again;
};

// The rule step breaks: RULE_NONE for a file a package can hold and for a
// directory's end.
int brokenrule(const walkstep& step);

// The text tool gives when it refuses what breaks rule, a "%s" in it standing
// for a detail (see refusalwhy); null when tool does not refuse it.
const char* ruletext(int tool, int rule);
// True when tool refuses what breaks rule.
bool refuses(int tool, int rule);

// The first step of steps that tool refuses, or null.
const walkstep* firstrefused(const std::vector<walkstep>& steps, int tool);

// Why tool refuses what breaks rule, without the name at fault: its text,
// with detail in place of a "%s" in it (the other name, the system's reason
// or the code page, as walkstep::again has them). Empty when tool does not
// refuse it. The inspector shows another entry's name after its text.
std::string refusalwhy(int tool, int rule, const std::string& detail = std::string());

// True when an entry name of archive A names the setup program: the
// installer starts it by a name Windows compares without case, and "/"
// separates as "\" does.
bool issetupprogram(const std::string& entryname);
