#include "deflateahead.h"

#include "entrysettings.h"

#include <algorithm>
#include <utility>
#include <cstdio>

namespace {

// The queue of finished entries stays below QUEUE_LIMIT.
const uint64_t FILE_LIMIT = DEFLATEAHEAD_FILE_LIMIT;
const uint64_t QUEUE_LIMIT = 96u << 20;
// A file holding at least this share of all the bytes to compress is large.
const uint64_t LARGE_SHARE = 128;
// The large files compressed first hold at most this much of the queue until
// the writer reaches them; the rest keeps the two threads going meanwhile.
const uint64_t EARLY_LIMIT = QUEUE_LIMIT / 4 * 3;

const char* skipseparators(const char* path)
{
    while (*path == '\\' || *path == '/') ++path;
    return path;
}

} // namespace

std::vector<size_t> deflateorder(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes)
{
    std::vector<size_t> files;
    uint64_t total = 0;
    for (size_t i = 0; i < paths.size() && i < sizes.size(); ++i) {
        if (paths[i].empty() || sizes[i] > FILE_LIMIT) continue;
        files.push_back(i);
        total += sizes[i];
    }
    std::vector<size_t> order;
    for (size_t item : files)
        if (sizes[item] > 0 && sizes[item] >= total / LARGE_SHARE) order.push_back(item);
    // Largest first, equal sizes in walk order (a few hundred large files at most).
    for (size_t i = 1; i < order.size(); ++i)
        for (size_t j = i; j > 0 && sizes[order[j - 1]] < sizes[order[j]]; --j) std::swap(order[j - 1], order[j]);
    uint64_t early = 0;
    size_t count = 0;
    while (count < order.size() && early + sizes[order[count]] <= EARLY_LIMIT) early += sizes[order[count++]];
    order.resize(count);
    std::vector<bool> first(paths.size(), false);
    for (size_t item : order) first[item] = true;
    for (size_t item : files)
        if (!first[item]) order.push_back(item);
    return order;
}

deflateahead::deflateahead(std::vector<std::string> files, std::vector<uint64_t> filesizes)
    : paths(std::move(files)), sizes(std::move(filesizes)), order(deflateorder(paths, sizes)),
      states(paths.size(), WAITING), results(paths.size())
{
    itemdone.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    itemtaken.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (itemdone && itemtaken) thread.start<deflateahead, &deflateahead::work>(this);
}

deflateahead::~deflateahead() { thread.stop(lock, stopping, itemtaken.get()); }

size_t deflateahead::claimnext()
{
    while (next < order.size() && states[order[next]] != WAITING) ++next;
    if (next >= order.size()) return paths.size();
    size_t item = order[next];
    if (queued > 0 && queued + sizes[item] > QUEUE_LIMIT) return paths.size();
    ++next;
    states[item] = WORKING;
    queued += sizes[item];
    return item;
}

void deflateahead::finish(size_t item)
{
    deflatedfile result;
    bool ok = compress(paths[item], sizes[item], result);
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
            if (next >= order.size()) break;
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

bool deflateahead::compress(const std::string& path, uint64_t listed, deflatedfile& out)
{
    stdiofile source(fopen(skipseparators(path.c_str()), "rb"));
    if (!source) return false;
    // Read whole at the listed size; a file that has grown since is read on
    // until it ends or passes the limit.
    std::string input(size_t(listed) + 1, '\0');
    size_t have = fread(&input[0], 1, input.size(), source.get());
    while (have == input.size() && have <= FILE_LIMIT) {
        input.resize(have + std::max<size_t>(have, 65536));
        have += fread(&input[have], 1, input.size() - have, source.get());
    }
    input.resize(have);
    bool complete = !ferror(source.get()) && feof(source.get());
    source.reset();
    // A file that cannot be read whole goes to the writer, which reports it.
    if (!complete || input.size() > FILE_LIMIT) return false;

    z_stream stream = {};
    if (startentrydeflate(&stream) != Z_OK) return false;
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
