#include "archivewriter.h"

#include "entrysettings.h"
#include "owners.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

// Finishes an archive left open; writearchive closes its own and checks the result.
void finisharchive(zipFile archive) { zipClose(archive, nullptr); }
// An archive from zipOpen.
using ziparchive = uniquehandle<zipFile, finisharchive, emptynull>;

const size_t PIECE = 256 * 1024;

struct deflated {
    std::string head;  // the compressed data, or as much as memory may hold
    stdiofile spill;   // the rest, when there is more
    uint32_t crc = 0;  // of the file's bytes
    uint32_t size = 0; // the file's size
    bool text = false; // deflate classed the data as text
    std::string error; // why the file could not be compressed; empty on success
};

bool emit(deflated& out, const unsigned char* data, size_t length, uint64_t memory)
{
    if (!out.spill && out.head.size() + length <= memory) {
        out.head.append(reinterpret_cast<const char*>(data), length);
        return true;
    }
    if (!out.spill) out.spill.reset(tmpfile());
    return out.spill && fwrite(data, 1, length, out.spill.get()) == length;
}

void compressfile(const std::string& path, uint64_t memory, deflated& out)
{
    stdiofile source(fopen(path.c_str(), "rb"));
    if (!source) {
        out.error = strerror(errno);
        return;
    }
    z_stream stream = {};
    if (startentrydeflate(&stream) != Z_OK) {
        out.error = "the compressor could not start";
        return;
    }
    std::vector<unsigned char> input(PIECE);
    std::vector<unsigned char> output(PIECE);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t total = 0;
    int flush = Z_NO_FLUSH;
    int result = Z_OK;
    do {
        size_t got = fread(input.data(), 1, input.size(), source.get());
        if (ferror(source.get())) {
            out.error = "reading failed";
            break;
        }
        total += got;
        if (total >= PACKAGE_SIZE_LIMIT) {
            out.error = "grew to 2 GiB or more while it was packed";
            break;
        }
        crc = crc32(crc, input.data(), uInt(got));
        flush = got < input.size() ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = input.data();
        stream.avail_in = uInt(got);
        do {
            stream.next_out = output.data();
            stream.avail_out = uInt(output.size());
            result = deflate(&stream, flush);
            if (!emit(out, output.data(), output.size() - stream.avail_out, memory)) {
                out.error = "no room for its compressed data in a temporary file";
                break;
            }
        } while (stream.avail_out == 0 && out.error.empty());
    } while (flush != Z_FINISH && out.error.empty());
    out.text = stream.data_type == Z_TEXT;
    deflateEnd(&stream);
    if (out.error.empty() && result != Z_STREAM_END) out.error = "compression failed";
    out.crc = uint32_t(crc);
    out.size = uint32_t(total);
    if (out.spill && fflush(out.spill.get()) != 0) out.error = "no room for its compressed data in a temporary file";
}

// Files compressed ahead of the writer by worker threads.
class compressqueue {
public:
    compressqueue(const std::string& source, const std::vector<packfile>& files, const archivelimits& limits)
        : source(source), files(files), limits(limits), states(files.size(), WAITING), results(files.size()),
          reserved(files.size(), 0)
    {
        uint64_t total = 0;
        for (const packfile& f : files) total += f.size;
        // Large files first, largest first: one left for the end would keep
        // a core busy while the others have nothing left to do. They
        // spill past their share, so they hold little memory meanwhile.
        std::vector<size_t> large;
        for (size_t i = 0; i < files.size(); ++i)
            if (files[i].size > limits.entry && files[i].size >= total / 64) large.push_back(i);
        std::stable_sort(large.begin(), large.end(), [&](size_t a, size_t b) { return files[a].size > files[b].size; });
        std::vector<bool> early(files.size(), false);
        for (size_t i : large) early[i] = true;
        order = large;
        for (size_t i = 0; i < files.size(); ++i)
            if (!early[i]) order.push_back(i);
    }

    void start(unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) {
            pthread_t thread;
            if (pthread_create(&thread, nullptr, run, this) == 0) threads.push_back(thread);
        }
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            stopping = true;
        }
        changed.notify_all();
        for (pthread_t thread : threads) pthread_join(thread, nullptr);
        threads.clear();
    }

    // The compressed item index, compressed now when no thread has begun it.
    void take(size_t index, deflated& out)
    {
        std::unique_lock<std::mutex> hold(lock);
        if (states[index] == WAITING) {
            // The writer's next item is compressed whatever the budget says.
            states[index] = WORKING;
            hold.unlock();
            compressfile(source + "/" + files[index].path, limits.entry, results[index]);
            hold.lock();
            states[index] = DONE;
        }
        changed.wait(hold, [&] { return states[index] == DONE; });
        out = std::move(results[index]);
        held -= reserved[index];
        reserved[index] = 0;
        states[index] = TAKEN;
        hold.unlock();
        changed.notify_all();
    }

private:
    enum itemstate { WAITING, WORKING, DONE, TAKEN };

    static void* run(void* self)
    {
        static_cast<compressqueue*>(self)->work();
        return nullptr;
    }

    // Under the lock: the next item to compress within the budget, or
    // files.size().
    size_t claim()
    {
        while (next < order.size() && states[order[next]] != WAITING) ++next;
        if (next >= order.size()) return files.size();
        size_t item = order[next];
        uint64_t share = std::min<uint64_t>(files[item].size + files[item].size / 8 + 64, limits.entry);
        if (held > 0 && held + share > limits.queue) return files.size();
        ++next;
        states[item] = WORKING;
        reserved[item] = share;
        held += share;
        return item;
    }

    void work()
    {
        std::unique_lock<std::mutex> hold(lock);
        while (!stopping) {
            size_t item = claim();
            if (item >= files.size()) {
                if (next >= order.size()) break;
                changed.wait(hold);
                continue;
            }
            hold.unlock();
            deflated result;
            compressfile(source + "/" + files[item].path, limits.entry, result);
            hold.lock();
            results[item] = std::move(result);
            states[item] = DONE;
            changed.notify_all();
        }
    }

    const std::string& source;
    const std::vector<packfile>& files;
    const archivelimits limits;
    std::vector<size_t> order;
    std::vector<itemstate> states;
    std::vector<deflated> results;
    std::vector<uint64_t> reserved;
    size_t next = 0;
    uint64_t held = 0;
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<pthread_t> threads;
};

bool writeentry(zipFile archive, const packfile& file, deflated& data, std::string& message)
{
    // raw: the data go in as they are; the level still marks the entry as
    // maximally compressed, as the builder's entries are.
    if (startpackageentry(archive, file.name.c_str(), data.text, 1) != ZIP_OK) {
        message = file.path + ": the archive entry could not be started";
        return false;
    }
    bool written = data.head.empty() || zipWriteInFileInZip(archive, data.head.data(), unsigned(data.head.size())) >= 0;
    if (written && data.spill) {
        rewind(data.spill.get());
        std::vector<char> piece(PIECE);
        size_t got;
        while (written && (got = fread(piece.data(), 1, piece.size(), data.spill.get())) > 0)
            written = zipWriteInFileInZip(archive, piece.data(), unsigned(got)) >= 0;
        written = written && !ferror(data.spill.get());
    }
    if (zipCloseFileInZipRaw(archive, data.size, data.crc) != ZIP_OK || !written) {
        message = file.path + ": writing the archive failed";
        return false;
    }
    return true;
}

} // namespace

bool writearchive(const std::string& archivepath, const std::string& source, const std::vector<packfile>& files,
                  unsigned threads, std::string& message, const archivelimits& limits)
{
    ziparchive archive(zipOpen(archivepath.c_str(), APPEND_STATUS_CREATE));
    if (!archive) {
        message = archivepath + ": cannot be created";
        return false;
    }
    compressqueue queue(source, files, limits);
    queue.start(threads);
    bool complete = true;
    for (size_t i = 0; i < files.size() && complete; ++i) {
        deflated data;
        queue.take(i, data);
        if (!data.error.empty()) {
            message = files[i].path + ": " + data.error;
            complete = false;
        } else {
            complete = writeentry(archive.get(), files[i], data, message);
        }
    }
    queue.stop();
    if (zipClose(archive.release(), nullptr) != ZIP_OK && complete) {
        message = archivepath + ": writing the archive failed";
        complete = false;
    }
    return complete;
}
