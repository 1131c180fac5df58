// Inflates the entries of an open archive on a second thread, ahead of the
// thread that writes them, so that extraction uses both cores: one inflates
// the next pieces while the other creates and writes files. Entries come out
// in archive order, in pieces of a fixed set of buffers, so the memory held
// ahead is bounded whatever the entries' sizes; the thread waits while every
// buffer is full. It only reads: what the entries become on disk is decided
// by the consumer, piece by piece.
#pragma once

#include "entryreader.h"
#include "handles.h"
#include "workerthread.h"

#include <unzip.h>

#include <cstddef>
#include <cstdint>
#include <vector>

const size_t INFLATEAHEAD_NAME_SIZE = 512;

// One piece of an entry. The first piece of an entry carries its header,
// the last one its outcome; a piece can be both.
struct inflatedpiece {
    uint32_t entry = 0; // index of the entry in the archive
    bool first = false;
    bool last = false;
    // First piece: true when the entry was opened and its data follow, in
    // this piece and the next ones.
    bool opened = false;
    // Last piece: ENTRY_OK when the data are complete and their CRC-32
    // matches, else why not; for an entry that was not opened, why it could
    // not be.
    int32_t cause = 0;
    // Last piece: 0, or -1 when moving on to the next entry failed (nothing
    // follows then). Moving on past the archive's last entry is not tried.
    int32_t advanced = 0;
    entryrecord info;          // first piece
    unz64_file_pos where = {}; // first piece: the entry's place, to go back to it
    char name[INFLATEAHEAD_NAME_SIZE] = {};
    const char* data = nullptr;
    size_t length = 0;
};

class inflateahead {
public:
    // Starts the thread on the archive's current entry, which is entry first
    // of count; pieces of piecesize bytes, at most pieces of them held at once.
    // The archive belongs to the thread until the object is destroyed.
    inflateahead(unzFile archive, uint32_t first, uint32_t count, size_t piecesize, size_t pieces);
    // Stops the thread and waits for it; the archive's current entry is then
    // wherever the thread stopped, with no entry open.
    ~inflateahead();
    inflateahead(const inflateahead&) = delete;
    inflateahead& operator=(const inflateahead&) = delete;

    // False when the thread could not be started (nothing will come).
    bool started() const { return bool(thread); }
    // The oldest piece not yet released, waiting for it; null when no more
    // will come (after the last entry or a failed advance).
    const inflatedpiece* next();
    // Hands the piece next() returned back to the thread.
    void release();
    // The most bytes of inflated data held at one time so far.
    size_t mostheld();

private:
    void work();
    // Waits for a free piece; null when stopping.
    inflatedpiece* acquire();
    void publish();
    // Reads one entry; false when nothing may follow it.
    bool readentry(uint32_t index);
    // The reader's buffers are the pieces: each one filled is published and
    // the next one acquired.
    static char* nextbuffer(void* self, size_t* size);
    static bool publishbuffer(void* self, size_t length);
    inflatedpiece* filling = nullptr; // the piece the reader fills, on the thread
    uint32_t fillingentry = 0;

    unzFile archive;
    uint32_t first;
    uint32_t count;
    size_t piecesize;
    std::vector<inflatedpiece> pieces;
    std::vector<char> buffers;
    uint64_t published = 0; // pieces handed out so far
    uint64_t released = 0;  // pieces given back so far
    size_t held = 0;        // data bytes published and not released
    size_t most = 0;
    bool finished = false;
    bool stopping = false;
    // Each side signals only a waiting other side: under Wine every event
    // call is a trip to the server, and most pieces find no one waiting.
    bool consumerwaits = false;
    bool producerwaits = false;
    criticalsection lock;
    kernelhandle madepiece; // set when a piece is published or the thread ends
    kernelhandle freedpiece;
    workerthread thread; // declared last: stopped before what it uses goes
};
