// The installer's output of its package: each entry becomes a file below a
// target directory, with the directories of its path made on the way;
// nothing is written through a link, and a file that does not end complete
// is removed. Names are in the ANSI code page and already passed the
// installer's rule (installerentry.h).
#pragma once

#include "entrysink.h"
#include "handles.h"
#include "linkcheck.h"

#include <cstdio>
#include <map>
#include <string>

class installsink : public entrysink {
public:
    // Makes target (null: whatever directory is current) the directory the
    // next entries are written below, and makes it current. False when it
    // cannot be made current.
    bool enter(const char* target);
    // Forgets which directory is current: something else may move it.
    void leave();

    // Opens the entry's file for writing below the target, making the
    // directories of its path; false when a directory on the way or the file
    // is a link, or the file cannot be created.
    bool begin(const entryrecord& entry) override;
    // Appends the bytes to the file; false when writing failed.
    bool data(const unsigned char* bytes, size_t length) override;
    // Closes the file; removes it unless result is ENTRY_OK and it was
    // written and closed whole. result, or ENTRY_WRITE_FAILED.
    int32_t end(int32_t result) override;

private:
    // Creates the directory prefix (relative to the target) unless it
    // exists; false when it is a link, or lies behind one.
    bool makedirectory(const std::string& prefix);
    // True when name may be created: nothing on its way is a link, and the
    // file is none either.
    bool plainentry(const std::string& directory, const char* name);

    // The target enter last made current; empty when unknown.
    std::string incurrent;
    // The target of the next entries ("" for none) and whether one was given.
    std::string here;
    bool targeted = false;
    // Directories made or found below madein, or found to be links: most
    // entries share their parents, and every directory made is a trip to the
    // file system.
    std::string madein;
    enum { DIRECTORY_NEW, DIRECTORY_FOUND, DIRECTORY_LINK };
    std::map<std::string, int> made;
    linkcheck links;
    bool linksready = false;
    // The entry begin opened.
    std::string name;
    stdiofile out;
};
