#include "inflateahead.h"

#include "installerentry.h"

#include <cstring>

namespace {

const SIZE_T STACK_SIZE = 64 * 1024;

} // namespace

inflateahead::inflateahead(unzFile source, uint32_t start, uint32_t entries, size_t size, size_t slots)
    : archive(source), first(start), count(entries), piecesize(size), pieces(slots ? slots : 1),
      buffers(pieces.size() * size)
{
    for (size_t i = 0; i < pieces.size(); ++i) pieces[i].data = buffers.data() + i * piecesize;
    madepiece.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    freedpiece.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    // A small stack: inflating needs little, and a default one counts a
    // megabyte against the installer's memory.
    if (madepiece && freedpiece && piecesize > 0)
        thread.start<inflateahead, &inflateahead::work>(this, STACK_SIZE, STACK_SIZE_PARAM_IS_A_RESERVATION);
}

inflateahead::~inflateahead() { thread.stop(lock, stopping, freedpiece.get()); }

void inflateahead::work()
{
    for (uint32_t i = first; i < count; ++i)
        if (!readentry(i)) break;
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
