// Test kit for the archive layer: a ZIP parser independent of minizip, raw
// deflate, hand-made archives with chosen faults, packages assembled from
// stub, archives and trailer, and guards for the process state the archive
// code changes (current directory, TMP, standard output).
#pragma once

#include "../helpers/rawdeflate.h"
#include "testfiles.h"
#include "testnoise.h"
#include "testpackage.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

using ::noise;
using ::rawdeflate;

struct centralrecord {
    uint16_t madeby, needed, flags, method, time, date;
    uint32_t crc, compressed, uncompressed;
    uint16_t namelength, extralength, commentlength, disk, internal;
    uint32_t external, localoffset;
    std::string name;
};

struct localrecord {
    uint16_t needed, flags, method, time, date;
    uint32_t crc, compressed, uncompressed;
    uint16_t namelength, extralength;
    std::string name;
    std::string data; // the compressed bytes that follow the header
};

struct parsedzip {
    std::string fault; // empty when the whole archive parsed
    uint64_t entries = 0;
    uint32_t cdsize = 0, cdoffset = 0;
    uint16_t diskentries = 0, totalentries = 0, commentlength = 0, disk = 0, cddisk = 0;
    bool zip64 = false;
    uint64_t zip64entries = 0, zip64cdoffset = 0, zip64cdsize = 0, zip64recordoffset = 0;
    std::vector<centralrecord> central;
    std::vector<localrecord> local;
};

// Parses an archive whose end record sits at its very end.
parsedzip parsezip(const std::string& bytes);

// Inflates raw deflate data; false on damaged data.
bool rawinflate(const std::string& compressed, std::string& out);
uint32_t crc(const std::string& data);

// One entry of a hand-made archive and the faults it may carry.
struct handentry {
    handentry(std::string name = "", std::string data = "") : name(std::move(name)), data(std::move(data)) {}
    std::string name;
    std::string data;
    int32_t crcdelta = 0;       // added to the true CRC-32 in both headers
    std::string compressed;     // replaces the deflated data when not empty
    int32_t localnamedelta = 0; // added to the local header's name length
    uint16_t flags = 2;
    uint16_t method = 8; // in both headers, whatever the data are
};
std::string makezip(const std::vector<handentry>& entries);

// stub + archive A + archive B + trailer (offsets and sampled digests), and
// the digest of a region as the trailer records it: the tests' one package
// maker (testpackage.h).
using testpackage::makepackage;
using testpackage::regiondigest;

// The tests' one reader and writer of whole files (writefile makes missing
// parent directories), for the archive tests that use this namespace.
using testfiles::readfile;
using testfiles::writefile;
bool exists(const std::string& path);
std::string cwd();
// Every file below dir, as relative paths with backslashes, sorted.
std::vector<std::string> treefiles(const std::string& dir);

// Restores the current directory on destruction.
class cwdguard {
public:
    cwdguard();
    ~cwdguard();

private:
    std::string saved;
};

// Sets TMP (so WorkspaceDir is dir\) for its lifetime.
class tmpguard {
public:
    explicit tmpguard(const std::string& dir);
    ~tmpguard();

private:
    std::wstring saved;
    bool had;
};

// Captures what is printed to standard output while it lives.
class stdoutcapture {
public:
    stdoutcapture();
    ~stdoutcapture();
    // Stops capturing and returns the text.
    std::string finish();

private:
    int savedfd;
    std::string path;
    bool done;
    std::string text;
};

} // namespace ziptest
