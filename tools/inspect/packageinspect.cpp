#include "packageinspect.h"

#include "md5digest.h"
#include "packagewindow.h"

#include <unzip.h>
#include <zlib.h>

#include <cstring>

namespace {

// An archive region opened in minizip; closes it when it goes.
class openarchive {
public:
    openarchive(FILE* stream, const inspectedarchive& archive)
    {
        view.stream = stream;
        view.base = long(archive.start);
        view.size = long(archive.length);
        zlib_filefunc64_def functions = packagewindow(&view);
        handle = unzOpen2_64("", &functions);
    }
    ~openarchive()
    {
        if (handle) unzClose(handle);
    }
    openarchive(const openarchive&) = delete;
    openarchive& operator=(const openarchive&) = delete;

    // True when the region holds an end record without entries and nothing else.
    bool emptyarchive() { return ::emptyarchive(view); }

    unzFile handle = nullptr;

private:
    packageview view;
};

// The current entry's record and full name; false when it cannot be read.
bool currententry(unzFile handle, inspectedentry& entry)
{
    unz_file_info64 record;
    if (unzGetCurrentFileInfo64(handle, &record, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    std::vector<char> name(record.size_filename + 1, 0);
    if (unzGetCurrentFileInfo64(handle, &record, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    entry.name.assign(name.data(), record.size_filename);
    entry.crc = uint32_t(record.crc);
    entry.compressed = record.compressed_size;
    entry.size = record.uncompressed_size;
    entry.method = uint16_t(record.compression_method);
    entry.flags = uint16_t(record.flag);
    return true;
}

std::string hex32(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%08x", unsigned(value));
    return text;
}

// The installer's rule for a name of this archive: below its top directory,
// shorter than its name buffer, and no zero byte inside.
bool safename(const inspectedarchive& archive, const std::string& name, leadbytetest islead)
{
    if (name.size() >= size_t(ENTRY_NAME_SIZE) || name.find('\0') != std::string::npos) return false;
    return safeentrynameunder(name.c_str(), archive.top, islead);
}

// Inflates the entry minizip has open, checking its size and CRC-32.
int readentry(unzFile handle, const inspectedentry& entry, entrysink* sink, uint32_t& crc)
{
    static const unsigned PIECE = 65536;
    std::vector<unsigned char> piece(PIECE);
    crc = uint32_t(crc32(0, nullptr, 0));
    uint64_t total = 0;
    int result = ENTRY_OK;
    for (;;) {
        int got = unzReadCurrentFile(handle, piece.data(), PIECE);
        if (got < 0) result = ENTRY_DATA_DAMAGED;
        if (got <= 0) break;
        crc = uint32_t(crc32(crc, piece.data(), unsigned(got)));
        total += unsigned(got);
        if (sink && !sink->data(piece.data(), size_t(got))) {
            result = ENTRY_REFUSED;
            break;
        }
    }
    unzCloseCurrentFile(handle);
    if (result == ENTRY_OK && total != entry.size) result = ENTRY_SIZE_MISMATCH;
    if (result == ENTRY_OK && crc != entry.crc) result = ENTRY_CRC_MISMATCH;
    return result;
}

} // namespace

const char* entryresulttext(int result)
{
    switch (result) {
    case ENTRY_OK: return "sound";
    case ENTRY_NO_INFO: return "central-directory record unreadable";
    case ENTRY_UNSAFE_NAME: return "unsafe name: the installer refuses it";
    case ENTRY_ENCRYPTED: return "encrypted";
    case ENTRY_OPEN_FAILED: return "local header unreadable or inconsistent";
    case ENTRY_DATA_DAMAGED: return "data damaged: inflate failed";
    case ENTRY_SIZE_MISMATCH: return "size mismatch";
    case ENTRY_CRC_MISMATCH: return "CRC-32 mismatch";
    case ENTRY_REFUSED: return "not written";
    default: return "unknown fault";
    }
}

int packageinspector::open(FILE* file)
{
    stream = file;
    info = inspectedpackage();
    info.a.top = "setup";
    info.b.top = "app";
    if (!stream || fseek(stream, 0, SEEK_END) != 0) return INSPECT_UNREADABLE;
    info.filesize = ftell(stream);
    info.searchend = searchend(stream);
    if (info.filesize < 0 || info.searchend < 0) return INSPECT_UNREADABLE;
    info.signature = info.searchend < info.filesize;
    info.trailerpos = locatetrailer(stream, info.trailer, info.distance);
    if (info.distance == 0) return INSPECT_UNREADABLE;
    if (info.trailerpos < 0) return INSPECT_SOUND;

    const PackageTrailer& t = info.trailer;
    info.a.start = t.offsetA;
    info.a.length = t.offsetB - t.offsetA;
    info.b.start = t.offsetB;
    info.b.length = uint32_t(info.trailerpos) - t.offsetB;
    Md5Digest digest;
    if (digest.digestregion(stream, int32_t(info.a.start), int32_t(info.a.length), info.computedA) != 0 ||
        digest.digestregion(stream, int32_t(info.b.start), int32_t(info.b.length), info.computedB) != 0)
        return INSPECT_UNREADABLE;

    for (inspectedarchive* archive : {&info.a, &info.b}) {
        openarchive zip(stream, *archive);
        if (!zip.handle) {
            archive->opened = archive->complete = zip.emptyarchive();
            continue;
        }
        unz_global_info64 global;
        if (unzGetGlobalInfo64(zip.handle, &global) != UNZ_OK) continue;
        archive->opened = true;
        archive->recorded = global.number_entry;
        for (uint64_t i = 0; i < global.number_entry; ++i) {
            inspectedentry entry;
            if (!currententry(zip.handle, entry)) break;
            archive->entries.push_back(entry);
            if (i + 1 < global.number_entry && unzGoToNextFile(zip.handle) != UNZ_OK) break;
        }
        archive->complete = archive->entries.size() == global.number_entry;
    }
    return INSPECT_SOUND;
}

int packageinspector::readarchive(char which, leadbytetest islead, entrysink* sink, std::vector<finding>& findings)
{
    const inspectedarchive& archive = which == 'A' ? info.a : info.b;
    size_t before = findings.size();
    if (info.trailerpos < 0 || !archive.opened) return INSPECT_FINDINGS;
    openarchive zip(stream, archive);
    if (!zip.handle) return archive.entries.empty() ? INSPECT_SOUND : INSPECT_FINDINGS;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        if (i > 0 && unzGoToNextFile(zip.handle) != UNZ_OK) break;
        inspectedentry entry;
        int result = ENTRY_OK;
        uint32_t crc = 0;
        if (!currententry(zip.handle, entry))
            result = ENTRY_NO_INFO;
        else if (!safename(archive, entry.name, islead))
            result = ENTRY_UNSAFE_NAME;
        else if (entry.flags & 1)
            result = ENTRY_ENCRYPTED;
        else if (sink && !sink->begin(entry))
            result = ENTRY_REFUSED;
        else if (unzOpenCurrentFile(zip.handle) != UNZ_OK) {
            result = ENTRY_OPEN_FAILED;
            if (sink) sink->end(result);
        } else {
            result = readentry(zip.handle, entry, sink, crc);
            if (sink) sink->end(result);
        }
        if (result == ENTRY_OK) continue;
        std::string text = entryresulttext(result);
        if (result == ENTRY_CRC_MISMATCH) text += " (recorded " + hex32(entry.crc) + ", data " + hex32(crc) + ")";
        if (result == ENTRY_SIZE_MISMATCH) text += " (recorded " + std::to_string(entry.size) + " bytes)";
        findings.push_back({which, entry.name, text});
    }
    return findings.size() == before && archive.complete ? INSPECT_SOUND : INSPECT_FINDINGS;
}

int packageinspector::verify(leadbytetest islead, std::vector<finding>& findings)
{
    size_t before = findings.size();
    const PackageTrailer& t = info.trailer;
    if (info.trailerpos < 0) {
        findings.push_back({0, "",
                            "trailer offsets invalid: offsetA " + std::to_string(t.offsetA) + ", offsetB " +
                                std::to_string(t.offsetB) + ", trailer at " +
                                std::to_string(info.searchend + info.distance - (TRAILER_SIZE - TRAILER_MARKER_SIZE)) +
                                " (offsetA < offsetB <= trailer needed)"});
        return INSPECT_FINDINGS;
    }
    const char* stored[2] = {t.digestA, t.digestB};
    const char* computed[2] = {info.computedA, info.computedB};
    for (int i = 0; i < 2; ++i)
        if (memcmp(stored[i], computed[i], 32) != 0)
            findings.push_back(
                {char('A' + i), "",
                 "digest mismatch: trailer " + std::string(stored[i], 32) + ", installer computes " + computed[i]});
    for (const inspectedarchive* archive : {&info.a, &info.b}) {
        char which = archive == &info.a ? 'A' : 'B';
        if (!archive->opened) {
            findings.push_back({which, "", "no ZIP end of central directory in its region"});
            continue;
        }
        if (!archive->complete)
            findings.push_back({which, "",
                                "the end record announces " + std::to_string(archive->recorded) + " entries, " +
                                    std::to_string(archive->entries.size()) + " can be read"});
        readarchive(which, islead, nullptr, findings);
    }
    bool setupprogram = false;
    for (const inspectedentry& entry : info.a.entries) {
        static const char NAME[] = "setup\\redizo.exe";
        if (entry.name.size() != sizeof NAME - 1) continue;
        bool same = true;
        for (size_t i = 0; i < entry.name.size() && same; ++i) {
            char c = entry.name[i];
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            if (c == '/') c = '\\';
            same = c == NAME[i];
        }
        setupprogram = setupprogram || same;
    }
    if (!setupprogram) findings.push_back({'A', "", "setup\\rEdizo.exe missing: the installer has nothing to start"});
    return findings.size() == before ? INSPECT_SOUND : INSPECT_FINDINGS;
}
