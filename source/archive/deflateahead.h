// Compresses the files of a tree walk on a second thread, ahead of the
// archive writer, so that packing uses both cores: the writer, waiting for a
// file the thread is still compressing, compresses a later one itself. Each file is deflated
// whole, exactly as the writer would deflate it (the package's entry
// settings, entrysettings.h), so the archive's bytes do not depend on which
// thread compressed an entry.
#pragma once

#include "handles.h"
#include "workerthread.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Files up to this size are compressed ahead, in memory; larger ones are
// streamed by the writer.
const uint64_t DEFLATEAHEAD_FILE_LIMIT = 32u << 20;

struct deflatedfile {
    std::string data;  // raw deflate stream
    uint32_t crc = 0;  // CRC-32 of the file's bytes
    uint32_t size = 0; // the file's size
    bool text = false; // deflate classed the data as text
};

// The order in which the files of a walk are compressed ahead (indexes into
// paths): the large files first, largest first, then the others in walk
// order. A large file left for the end would keep one core busy while the
// other has nothing left to do. Items that are no files or exceed the
// in-memory limit are not in it.
std::vector<size_t> deflateorder(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes);

class deflateahead {
public:
    // paths[i] is the file to read for item i, or empty for an item that is
    // not a file; sizes[i] its size from the directory listing. Files larger
    // than the per-file limit are left to the writer.
    deflateahead(std::vector<std::string> paths, std::vector<uint64_t> sizes);
    // Stops the thread and waits for it.
    ~deflateahead();
    deflateahead(const deflateahead&) = delete;
    deflateahead& operator=(const deflateahead&) = delete;

    // Item index, in order: true with out filled with the file compressed
    // (by the thread, or now by the caller if the thread has not reached it);
    // false when the caller must add it itself: no file, larger than the
    // in-memory limit, or not readable completely.
    bool take(size_t index, deflatedfile& out);

private:
    enum itemstate { WAITING, WORKING, DONE, FAILED, CALLERS };
    void work();
    // Under the lock: claims the next file to compress ahead, or returns
    // paths.size() when there is none or the queue is full.
    size_t claimnext();
    // Compresses a claimed file and files the result.
    void finish(size_t item);
    // listed: the file's size in the directory listing.
    bool compress(const std::string& path, uint64_t listed, deflatedfile& out);

    std::vector<std::string> paths;
    std::vector<uint64_t> sizes;
    std::vector<size_t> order; // deflateorder(paths, sizes)
    std::vector<itemstate> states;
    std::vector<deflatedfile> results;
    size_t next = 0;     // first place in order not yet looked at
    uint64_t queued = 0; // bytes compressed and not yet taken
    bool stopping = false;
    criticalsection lock;
    kernelhandle itemdone;  // set when the thread finishes an item
    kernelhandle itemtaken; // set when the caller takes one (budget freed) or stops
    workerthread thread;    // declared last, so it is stopped before what it uses goes
};
