#include "deflateahead.h"

#include <zlib.h>

#include <cstdio>

namespace {

// The queue of finished entries stays below QUEUE_LIMIT.
const uint64_t FILE_LIMIT = DEFLATEAHEAD_FILE_LIMIT;
const uint64_t QUEUE_LIMIT = 96u << 20;

const char* skipseparators(const char* path)
{
    while (*path == '\\' || *path == '/') ++path;
    return path;
}

} // namespace

deflateahead::deflateahead(std::vector<std::string> files, std::vector<uint64_t> filesizes)
    : paths(std::move(files)), sizes(std::move(filesizes)), states(paths.size(), WAITING), results(paths.size())
{
    itemdone.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    itemtaken.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (itemdone && itemtaken) thread.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
}

deflateahead::~deflateahead()
{
    {
        scopedlock hold(lock);
        stopping = true;
    }
    if (itemtaken) SetEvent(itemtaken.get());
    // The thread ends before the events and the lock it uses go.
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
    thread.reset();
}

DWORD WINAPI deflateahead::run(void* self)
{
    static_cast<deflateahead*>(self)->work();
    return 0;
}

size_t deflateahead::claimnext()
{
    while (next < paths.size() && (paths[next].empty() || sizes[next] > FILE_LIMIT || states[next] != WAITING)) ++next;
    if (next >= paths.size()) return paths.size();
    if (queued > 0 && queued + sizes[next] > QUEUE_LIMIT) return paths.size();
    size_t item = next++;
    states[item] = WORKING;
    queued += sizes[item];
    return item;
}

void deflateahead::finish(size_t item)
{
    deflatedfile result;
    bool ok = compress(paths[item], result);
    {
        scopedlock hold(lock);
        if (ok) results[item] = std::move(result);
        states[item] = ok ? DONE : FAILED;
    }
    SetEvent(itemdone.get());
}

void deflateahead::work()
{
    scopedlock hold(lock);
    while (!stopping) {
        size_t item = claimnext();
        if (item >= paths.size()) {
            if (next >= paths.size()) break;
            // The queue is full: wait until the writer takes an entry.
            hold.unlock();
            WaitForSingleObject(itemtaken.get(), INFINITE);
            hold.lock();
            continue;
        }
        hold.unlock();
        finish(item);
        hold.lock();
    }
}

bool deflateahead::take(size_t index, deflatedfile& out)
{
    if (index >= paths.size()) return false;
    scopedlock hold(lock);
    if (states[index] == WAITING) {
        if (paths[index].empty() || sizes[index] > FILE_LIMIT) {
            // The writer streams it; the thread goes on after it.
            states[index] = CALLERS;
            return false;
        }
        // Not reached by the thread yet: the caller compresses it now.
        states[index] = WORKING;
        queued += sizes[index];
        hold.unlock();
        finish(index);
        hold.lock();
    }
    while (states[index] == WORKING) {
        // Rather than wait, the caller compresses a later file itself.
        size_t later = claimnext();
        if (later < paths.size()) {
            hold.unlock();
            finish(later);
            hold.lock();
            continue;
        }
        hold.unlock();
        WaitForSingleObject(itemdone.get(), INFINITE);
        hold.lock();
    }
    bool done = states[index] == DONE;
    if (done) out = std::move(results[index]);
    results[index] = deflatedfile();
    if (states[index] == DONE || states[index] == FAILED) queued -= sizes[index];
    states[index] = CALLERS;
    hold.unlock();
    SetEvent(itemtaken.get());
    return done;
}

bool deflateahead::compress(const std::string& path, deflatedfile& out)
{
    stdiofile source(fopen(skipseparators(path.c_str()), "rb"));
    if (!source) return false;
    std::string input;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, source.get())) > 0) {
        input.append(buffer, got);
        if (input.size() > FILE_LIMIT) break;
    }
    bool complete = !ferror(source.get()) && feof(source.get());
    source.reset();
    // A file that cannot be read whole goes to the writer, which reports it.
    if (!complete || input.size() > FILE_LIMIT) return false;

    z_stream stream = {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out.data.resize(deflateBound(&stream, uLong(input.size())) + 16);
    stream.next_in = reinterpret_cast<Bytef*>(&input[0]);
    stream.avail_in = uInt(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out.data[0]);
    stream.avail_out = uInt(out.data.size());
    int result = deflate(&stream, Z_FINISH);
    out.data.resize(stream.total_out);
    out.text = stream.data_type == Z_TEXT;
    deflateEnd(&stream);
    if (result != Z_STREAM_END) return false;
    out.crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(input.data()), uInt(input.size())));
    out.size = uint32_t(input.size());
    return true;
}
