#include "inflateahead.h"

#include "installerentry.h"
#include "lzmaentry.h"

#include <cstring>

namespace {

const SIZE_T STACK_SIZE = 64 * 1024;

int processors()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return int(system.dwNumberOfProcessors);
}

} // namespace

inflateahead::inflateahead(unzFile source, uint32_t start, uint32_t entries, size_t size, size_t slots, int decoders)
    : archive(source), first(start), count(entries), piecesize(size), pieces(slots ? slots : 1),
      buffers(pieces.size() * size)
{
    for (size_t i = 0; i < pieces.size(); ++i) pieces[i].data = buffers.data() + i * piecesize;
    madepiece.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    freedpiece.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (decoders < 0) decoders = processors() >= 2 ? processors() : 0;
    wantedworkers = decoders < int(AHEAD_MOST_WORKERS) ? decoders : int(AHEAD_MOST_WORKERS);
    // What the workers wait on is made here, so the destructor can signal it
    // whatever the thread did; the workers start at the first LZMA entry, so
    // a package without one has none.
    if (wantedworkers > 0) {
        wholequeued.reset(CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr));
        wholedone.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }
    // A small stack: inflating needs little, and a default one counts a
    // megabyte against the installer's memory.
    if (madepiece && freedpiece && piecesize > 0)
        thread.start<inflateahead, &inflateahead::work>(this, STACK_SIZE, STACK_SIZE_PARAM_IS_A_RESERVATION);
}

inflateahead::~inflateahead()
{
    // The thread may wait for a decoded entry as well as for a free piece:
    // stopping is set before either is signalled.
    {
        scopedlock hold(lock);
        stopping = true;
    }
    if (wholedone) SetEvent(wholedone.get());
    thread.stop(lock, stopping, freedpiece.get());
    // The workers, which the thread starts, after it: each wakes on a count
    // of its own, sees stopping and ends.
    if (workercount > 0) ReleaseSemaphore(wholequeued.get(), LONG(workercount), nullptr);
    for (size_t i = 0; i < workercount; ++i) workers[i].stop(lock, stopping, nullptr);
}

bool inflateahead::startworkers()
{
    int wanted = wantedworkers;
    wantedworkers = 0; // tried once
    // Small stacks as the thread's: decoding needs little. Without a worker
    // every entry is read on the thread.
    for (int i = 0; i < wanted && wholequeued && wholedone; ++i)
        if (workers[workercount].start<inflateahead, &inflateahead::decodework>(this, STACK_SIZE,
                                                                                STACK_SIZE_PARAM_IS_A_RESERVATION))
            ++workercount;
    return workercount > 0;
}

void inflateahead::work()
{
    uint32_t i = first;
    bool more = true;
    for (;;) {
        // LZMA entries go to the workers as long as they follow one another
        // and there is room; the oldest is handed out when no more can go.
        while (more && i < count && wholeready()) more = readwhole(i++);
        if (wholecount > 0) {
            if (!publishwhole()) break;
            continue;
        }
        if (!more || i >= count || !readentry(i++)) break;
    }
    bool wake;
    {
        scopedlock hold(lock);
        finished = true;
        wake = consumerwaits;
    }
    if (wake) SetEvent(madepiece.get());
}

inflatedpiece* inflateahead::acquire()
{
    scopedlock hold(lock);
    while (!stopping && published - released >= pieces.size()) {
        producerwaits = true;
        hold.unlock();
        WaitForSingleObject(freedpiece.get(), INFINITE);
        hold.lock();
        producerwaits = false;
    }
    if (stopping) return nullptr;
    inflatedpiece& piece = pieces[size_t(published % pieces.size())];
    const char* data = piece.data;
    piece = inflatedpiece();
    piece.data = data;
    return &piece;
}

void inflateahead::publish()
{
    bool wake;
    {
        scopedlock hold(lock);
        held += pieces[size_t(published % pieces.size())].length;
        if (held > most) most = held;
        ++published;
        wake = consumerwaits;
    }
    if (wake) SetEvent(madepiece.get());
}

bool inflateahead::readentry(uint32_t index)
{
    inflatedpiece* piece = acquire();
    if (!piece) return false;
    piece->entry = index;
    piece->first = true;
    unzGetFilePos64(archive, &piece->where);
    piece->cause = openinstallerentry(archive, piece->info, piece->name);
    piece->opened = piece->cause == ENTRY_OK;
    if (piece->opened) {
        filling = piece;
        fillingentry = index;
        size_t last = 0;
        // A copy: the first piece goes back to the pool once the consumer
        // has written it, which may be long before the entry ends.
        const entryrecord record = piece->info;
        int32_t cause = inflateentry(archive, record, entryoutput{this, nextbuffer, publishbuffer}, &last);
        piece = filling;
        // Stopping: no piece to end the entry with.
        if (!piece) return false;
        piece->length = last;
        piece->cause = cause;
    }
    piece->last = true;
    if (index + 1 < count && unzGoToNextFile(archive) != UNZ_OK) piece->advanced = -1;
    bool more = piece->advanced == 0;
    publish();
    return more;
}

char* inflateahead::nextbuffer(void* self, size_t* size)
{
    inflateahead* ahead = static_cast<inflateahead*>(self);
    if (!ahead->filling) return nullptr;
    *size = ahead->piecesize;
    return const_cast<char*>(ahead->filling->data);
}

bool inflateahead::publishbuffer(void* self, size_t length)
{
    inflateahead* ahead = static_cast<inflateahead*>(self);
    ahead->filling->length = length;
    ahead->publish();
    ahead->filling = ahead->acquire();
    if (!ahead->filling) return false;
    ahead->filling->entry = ahead->fillingentry;
    return true;
}

const inflatedpiece* inflateahead::next()
{
    scopedlock hold(lock);
    while (released == published && !finished && thread) {
        consumerwaits = true;
        hold.unlock();
        WaitForSingleObject(madepiece.get(), INFINITE);
        hold.lock();
        consumerwaits = false;
    }
    if (released == published) return nullptr;
    return &pieces[size_t(released % pieces.size())];
}

void inflateahead::release()
{
    bool wake;
    {
        scopedlock hold(lock);
        if (released == published) return;
        held -= pieces[size_t(released % pieces.size())].length;
        ++released;
        // A waiting thread is woken when half the pieces are free, not for
        // each one: the writer is usually the slower side.
        wake = producerwaits && published - released <= pieces.size() / 2;
    }
    if (wake) SetEvent(freedpiece.get());
}

size_t inflateahead::mostheld()
{
    scopedlock hold(lock);
    return most;
}

bool inflateahead::wholeready()
{
    if (wantedworkers == 0 && (workercount == 0 || wholecount > workercount)) return false;
    entryrecord record;
    if (readentryrecord(archive, record) != ENTRY_OK || record.method != LZMA_METHOD || (record.flags & 1) ||
        record.size >= AHEAD_WHOLE_ENTRY || record.compressed > AHEAD_WHOLE_ENTRY)
        return false;
    // Started at the first LZMA entry: packages without one have no workers.
    if (!startworkers()) return false;
    uint64_t cost = record.compressed + record.size + 1;
    scopedlock hold(lock);
    return !stopping && (wholecount == 0 || wholecost + cost <= AHEAD_WHOLE_MEMORY);
}

bool inflateahead::readwhole(uint32_t index)
{
    // The slot after the last held: no worker looks at it until it is counted.
    wholeentry& entry = whole[(wholefirst + wholecount) % WHOLE_SLOTS];
    entry = wholeentry();
    inflatedpiece& header = entry.header;
    header.entry = index;
    header.first = true;
    unzGetFilePos64(archive, &header.where);
    header.cause = openinstallerentry(archive, header.info, header.name);
    header.opened = header.cause == ENTRY_OK;
    if (header.opened) {
        entry.length = size_t(header.info.compressed);
        entry.compressed.reset(static_cast<unsigned char*>(malloc(entry.length ? entry.length : 1)));
        size_t got = 0;
        int read = 1;
        while (entry.compressed && got < entry.length && read > 0) {
            read = unzReadCurrentFile(archive, entry.compressed.get() + got, unsigned(entry.length - got));
            if (read > 0) got += size_t(read);
        }
        unzCloseCurrentFile(archive);
        // Data that cannot be read whole fail as the decoder would fail them.
        if (!entry.compressed || read < 0) entry.cause = ENTRY_DATA_DAMAGED;
        entry.length = got;
    }
    if (index + 1 < count && unzGoToNextFile(archive) != UNZ_OK) entry.advanced = -1;
    bool decode = header.opened && entry.cause == ENTRY_OK;
    entry.cost = entry.length + (decode ? header.info.size + 1 : 0);
    {
        scopedlock hold(lock);
        entry.queued = decode;
        entry.done = !decode;
        wholecost += entry.cost;
        ++wholecount;
    }
    if (decode) ReleaseSemaphore(wholequeued.get(), 1, nullptr);
    return entry.advanced == 0;
}

void inflateahead::decodework()
{
    for (;;) {
        WaitForSingleObject(wholequeued.get(), INFINITE);
        wholeentry* entry = nullptr;
        {
            scopedlock hold(lock);
            if (stopping) return;
            for (size_t i = 0; i < wholecount && !entry; ++i) {
                wholeentry& held = whole[(wholefirst + i) % WHOLE_SLOTS];
                if (held.queued) entry = &held;
            }
            if (entry) entry->queued = false;
        }
        if (!entry) continue;
        const entryrecord& info = entry->header.info;
        entry->cause =
            decodelzmawhole(entry->compressed.get(), entry->length, info.size, info.crc, info.flags, entry->decoded);
        bool wake;
        {
            scopedlock hold(lock);
            entry->compressed.reset();
            entry->done = true;
            wake = producerwaitswhole;
        }
        if (wake) SetEvent(wholedone.get());
    }
}

bool inflateahead::publishwhole()
{
    wholeentry* entry = &whole[wholefirst];
    {
        scopedlock hold(lock);
        while (!stopping && !entry->done) {
            producerwaitswhole = true;
            hold.unlock();
            WaitForSingleObject(wholedone.get(), INFINITE);
            hold.lock();
            producerwaitswhole = false;
        }
        if (stopping) return false;
    }
    inflatedpiece* piece = acquire();
    if (!piece) return false;
    const char* data = piece->data;
    *piece = entry->header;
    piece->data = data;
    // The decoded bytes go out in pieces; a failed entry hands out none.
    const char* bytes = reinterpret_cast<const char*>(entry->decoded.get());
    uint64_t left = entry->header.opened && entry->cause == ENTRY_OK ? entry->header.info.size : 0;
    for (;;) {
        size_t n = left < piecesize ? size_t(left) : piecesize;
        if (n > 0) memcpy(const_cast<char*>(piece->data), bytes, n);
        piece->length = n;
        bytes += n;
        left -= n;
        if (left == 0) break;
        publish();
        piece = acquire();
        if (!piece) return false;
        piece->entry = entry->header.entry;
    }
    if (entry->header.opened) piece->cause = entry->cause;
    piece->last = true;
    piece->advanced = entry->advanced;
    publish();
    {
        scopedlock hold(lock);
        wholecost -= entry->cost;
        wholefirst = (wholefirst + 1) % WHOLE_SLOTS;
        --wholecount;
    }
    return true;
}
