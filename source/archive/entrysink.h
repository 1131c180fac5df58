// Where a package reader hands the entries it reads, one at a time, in
// archive order: the installer's output files (installsink.h) or the
// inspector's extraction. The reader decides which entries reach a sink and
// reads them; the sink decides what they become. No platform header.
#pragma once

#include "entryreader.h"

#include <cstddef>
#include <cstdint>

class entrysink {
public:
    // Starts an entry whose name passed the reader's rule; false refuses it
    // (nothing of it is kept, and end is not called).
    virtual bool begin(const entryrecord& entry) = 0;
    // Takes the next inflated bytes of the entry begin took; false stops the
    // entry.
    virtual bool data(const unsigned char* bytes, size_t length) = 0;
    // Ends the entry begin took with the reader's ENTRY_ result; a sink keeps
    // nothing of an entry unless it ends ENTRY_OK. Returns the entry's
    // result: the reader's, or ENTRY_WRITE_FAILED when the sink could not
    // keep an entry that was read whole.
    virtual int32_t end(int32_t result) = 0;

protected:
    ~entrysink() = default;
};
