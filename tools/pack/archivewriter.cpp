#include "archivewriter.h"

#include "entrysettings.h"
#include "lzmaencoder.h"
#include "owners.h"
#include "zipwriter.h"

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
    std::string head;   // the compressed data, or as much as memory may hold
    stdiofile spill;    // the rest, when there is more
    uint64_t bytes = 0; // of compressed data, head and spill
    uint16_t method = Z_DEFLATED;
    uint32_t crc = 0;  // of the file's bytes
    uint32_t size = 0; // the file's size
    bool text = false; // deflate classed the data as text
    std::string error; // why the file could not be compressed; empty on success
};

bool emit(deflated& out, const unsigned char* data, size_t length, uint64_t memory)
{
    out.bytes += length;
    if (!out.spill && out.head.size() + length <= memory) {
        out.head.append(reinterpret_cast<const char*>(data), length);
        return true;
    }
    if (!out.spill) out.spill.reset(tmpfile());
    return out.spill && fwrite(data, 1, length, out.spill.get()) == length;
}

void deflatefile(const std::string& path, uint64_t memory, deflated& out)
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

// The LZMA encoder's output, into the entry's memory and spill.
struct lzmaemit {
    deflated& out;
    uint64_t memory;
    bool full = false; // the temporary file took no more
    static bool take(void* self, const unsigned char* data, size_t length)
    {
        lzmaemit* e = static_cast<lzmaemit*>(self);
        e->full = !emit(e->out, data, length, e->memory);
        return !e->full;
    }
};

// The file as an LZMA entry; deflated instead when LZMA does not make it
// smaller (data that do not compress, the smallest files).
void lzmafile(const std::string& path, uint64_t size, uint64_t memory, deflated& out)
{
    stdiofile source(fopen(path.c_str(), "rb"));
    if (!source) {
        out.error = strerror(errno);
        return;
    }
    lzmaemit sink{out, memory};
    lzmaencoder encoder(size, lzmasettings(), lzmaoutput{&sink, lzmaemit::take});
    if (!encoder.started()) {
        out.error = "the compressor could not start";
        return;
    }
    std::vector<unsigned char> input(PIECE);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t total = 0;
    bool last = false;
    while (!last && out.error.empty()) {
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
        last = got < input.size();
        if (!encoder.encode(input.data(), got, last))
            out.error = sink.full ? "no room for its compressed data in a temporary file" : "compression failed";
    }
    if (out.spill && fflush(out.spill.get()) != 0) out.error = "no room for its compressed data in a temporary file";
    if (!out.error.empty()) return;
    if (out.bytes >= total) {
        out = deflated();
        deflatefile(path, memory, out);
        return;
    }
    out.method = ENTRY_LZMA_METHOD;
    out.crc = uint32_t(crc);
    out.size = uint32_t(total);
}

void compressfile(const std::string& path, uint64_t size, archivemethod method, uint64_t memory, deflated& out)
{
    if (method == ARCHIVE_LZMA)
        lzmafile(path, size, memory, out);
    else
        deflatefile(path, memory, out);
}

// Files compressed ahead of the writer by worker threads.
class compressqueue {
public:
    compressqueue(const std::string& source, const std::vector<packfile>& files, const archivelimits& limits,
                  archivemethod method)
        : source(source), files(files), limits(limits), method(method), states(files.size(), WAITING),
          results(files.size()), reserved(files.size(), 0), working(files.size(), 0)
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
            working[index] = encodermemory(index);
            busy += working[index];
            hold.unlock();
            compress(index, results[index]);
            hold.lock();
            busy -= working[index];
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

    // Memory the encoder of item takes (LZMA; deflate's is small and fixed).
    uint64_t encodermemory(size_t item) const
    {
        return method == ARCHIVE_LZMA ? lzmaencodermemory(files[item].size) : 0;
    }

    void compress(size_t item, deflated& out)
    {
        compressfile(source + "/" + files[item].path, files[item].size, method, limits.entry, out);
    }

    // Under the lock: the next item to compress within the budgets, or
    // files.size().
    size_t claim()
    {
        while (next < order.size() && states[order[next]] != WAITING) ++next;
        if (next >= order.size()) return files.size();
        size_t item = order[next];
        uint64_t share = std::min<uint64_t>(files[item].size + files[item].size / 8 + 64, limits.entry);
        if (held > 0 && held + share > limits.queue) return files.size();
        uint64_t memory = encodermemory(item);
        if (busy > 0 && busy + memory > limits.encoders) return files.size();
        ++next;
        states[item] = WORKING;
        reserved[item] = share;
        held += share;
        working[item] = memory;
        busy += memory;
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
            compress(item, result);
            hold.lock();
            results[item] = std::move(result);
            busy -= working[item];
            states[item] = DONE;
            changed.notify_all();
        }
    }

    const std::string& source;
    const std::vector<packfile>& files;
    const archivelimits limits;
    const archivemethod method;
    std::vector<size_t> order;
    std::vector<itemstate> states;
    std::vector<deflated> results;
    std::vector<uint64_t> reserved;
    std::vector<uint64_t> working; // encoder memory of each item being compressed
    size_t next = 0;
    uint64_t held = 0;
    uint64_t busy = 0; // encoder memory of the items being compressed
    bool stopping = false;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<pthread_t> threads;
};

// Hands an entry's compressed data, from memory and then from its spill,
// to write; false when write refuses or the spill cannot be read.
template <typename Write>
bool copydata(deflated& data, Write write)
{
    bool written = data.head.empty() || write(data.head.data(), data.head.size());
    if (written && data.spill) {
        rewind(data.spill.get());
        std::vector<char> piece(PIECE);
        size_t got;
        while (written && (got = fread(piece.data(), 1, piece.size(), data.spill.get())) > 0)
            written = write(piece.data(), got);
        written = written && !ferror(data.spill.get());
    }
    return written;
}

bool writeentry(zipFile archive, const packfile& file, deflated& data, std::string& message)
{
    // raw: the data go in as they are; the level still marks the entry as
    // maximally compressed, as the builder's entries are.
    if (startpackageentry(archive, file.name.c_str(), data.text, 1) != ZIP_OK) {
        message = file.path + ": the archive entry could not be started";
        return false;
    }
    bool written = copydata(data, [&](const char* bytes, size_t length) {
        return zipWriteInFileInZip(archive, bytes, unsigned(length)) >= 0;
    });
    if (zipCloseFileInZipRaw(archive, data.size, data.crc) != ZIP_OK || !written) {
        message = file.path + ": writing the archive failed";
        return false;
    }
    return true;
}

bool writeentry(zipwriter& archive, const packfile& file, deflated& data, std::string& message)
{
    zipentry entry;
    entry.name = file.name;
    entry.method = data.method;
    entry.crc = data.crc;
    entry.size = data.size;
    entry.text = data.text;
    // Every file is below 2 GiB and LZMA never grows one much: a
    // compressed size past 32 bits cannot be held, and is refused.
    entry.compressed = uint32_t(data.bytes);
    bool written = data.bytes <= 0xFFFFFFFFu && archive.begin(entry) &&
                   copydata(data, [&](const char* bytes, size_t length) { return archive.add(bytes, length); });
    if (!written) message = file.path + ": writing the archive failed";
    return written;
}

// Takes the compressed files in order from the queue and writes them.
template <typename Archive>
bool writeentries(Archive& archive, compressqueue& queue, const std::vector<packfile>& files, std::string& message)
{
    for (size_t i = 0; i < files.size(); ++i) {
        deflated data;
        queue.take(i, data);
        if (!data.error.empty()) {
            message = files[i].path + ": " + data.error;
            return false;
        }
        if (!writeentry(archive, files[i], data, message)) return false;
    }
    return true;
}

} // namespace

bool writearchive(const std::string& archivepath, const std::string& source, const std::vector<packfile>& files,
                  unsigned threads, std::string& message, const archivelimits& limits, archivemethod method)
{
    compressqueue queue(source, files, limits, method);
    if (method == ARCHIVE_LZMA) {
        zipwriter archive;
        if (!archive.open(archivepath)) {
            message = archivepath + ": cannot be created";
            return false;
        }
        queue.start(threads);
        bool complete = writeentries(archive, queue, files, message);
        queue.stop();
        if (!archive.close() && complete) {
            message = archivepath + ": writing the archive failed";
            complete = false;
        }
        return complete;
    }
    ziparchive archive(zipOpen(archivepath.c_str(), APPEND_STATUS_CREATE));
    if (!archive) {
        message = archivepath + ": cannot be created";
        return false;
    }
    queue.start(threads);
    zipFile handle = archive.get();
    bool complete = writeentries(handle, queue, files, message);
    queue.stop();
    if (zipClose(archive.release(), nullptr) != ZIP_OK && complete) {
        message = archivepath + ": writing the archive failed";
        complete = false;
    }
    return complete;
}
