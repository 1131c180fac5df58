#include "inflateahead.h"

#include "dataunzip.h"

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
        thread.reset(CreateThread(nullptr, STACK_SIZE, run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

inflateahead::~inflateahead()
{
    {
        scopedlock hold(lock);
        stopping = true;
    }
    if (freedpiece) SetEvent(freedpiece.get());
    // The thread ends before the events, the lock and the buffers it uses go.
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
}

DWORD WINAPI inflateahead::run(void* self)
{
    static_cast<inflateahead*>(self)->work();
    return 0;
}

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
    if (unzGetCurrentFileInfo(archive, &piece->info, piece->name, INFLATEAHEAD_NAME_SIZE, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        piece->name[0] = 0;
        piece->cause = DATAUNZIP_NO_INFO;
    } else {
        // minizip leaves a name of 512 bytes or more unterminated.
        piece->name[INFLATEAHEAD_NAME_SIZE - 1] = 0;
        if (piece->info.size_filename >= uLong(INFLATEAHEAD_NAME_SIZE) || !safeentryname(piece->name))
            piece->cause = DATAUNZIP_UNSAFE_NAME;
        else if (piece->info.flag & 1)
            piece->cause = DATAUNZIP_ENCRYPTED;
        else if (unzOpenCurrentFile(archive) != UNZ_OK)
            piece->cause = DATAUNZIP_OPEN_FAILED;
        else
            piece->opened = true;
    }

    if (piece->opened) {
        uLong expected = piece->info.uncompressed_size;
        unsigned long long total = 0;
        for (;;) {
            char* out = const_cast<char*>(piece->data);
            int got = 1;
            while (piece->length < piecesize) {
                got = unzReadCurrentFile(archive, out + piece->length, unsigned(piecesize - piece->length));
                if (got <= 0) break;
                piece->length += size_t(got);
                total += unsigned(got);
            }
            if (got <= 0) {
                // minizip checks the CRC-32 only when the stored size was reached.
                int closed = unzCloseCurrentFile(archive);
                if (got < 0 || total != expected)
                    piece->cause = DATAUNZIP_DATA_DAMAGED;
                else if (closed == UNZ_CRCERROR)
                    piece->cause = DATAUNZIP_CRC_MISMATCH;
                else if (closed != UNZ_OK)
                    piece->cause = DATAUNZIP_DATA_DAMAGED;
                break;
            }
            publish();
            piece = acquire();
            if (!piece) {
                unzCloseCurrentFile(archive);
                return false;
            }
            piece->entry = index;
        }
    }
    piece->last = true;
    if (index + 1 < count && unzGoToNextFile(archive) != UNZ_OK) piece->advanced = -1;
    bool more = piece->advanced == 0;
    publish();
    return more;
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
