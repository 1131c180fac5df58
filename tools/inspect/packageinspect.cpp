#include "packageinspect.h"

#include "md5digest.h"
#include "namecodec.h"
#include "owners.h"
#include "packagerules.h"
#include "packageview.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>

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
        opened.reset(unzOpen2_64("", &functions));
    }

    // True when the region holds an end record without entries and nothing else.
    bool emptyarchive() { return ::emptyarchive(view); }

    // The archive, or null when the region holds none.
    unzFile handle() const { return opened.get(); }

private:
    packageview view;
    // Declared after the view it reads through: closed first.
    uniquehandle<unzFile, unzClose, emptynull> opened;
};

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

// Bytes an entry takes in its archive: from where its local header starts
// at the latest (the fixed part and the name before the data; the extra
// field may make it start earlier) to the end of its data.
struct entryspan {
    uint64_t start;
    uint64_t end;
    const std::string* name;
};

// One finding per entry whose bytes overlap an earlier one's: two central
// records on one local header, or data inside another entry's data.
void overlapfindings(char which, std::vector<entryspan>& spans, std::vector<finding>& findings)
{
    std::stable_sort(spans.begin(), spans.end(),
                     [](const entryspan& a, const entryspan& b) { return a.start < b.start; });
    const entryspan* reach = nullptr; // the span that reaches furthest so far
    for (const entryspan& span : spans) {
        if (reach && span.start < reach->end)
            findings.push_back({which, *span.name, "its data overlap those of ", *reach->name});
        if (!reach || span.end > reach->end) reach = &span;
    }
}

// The name's components joined by "\": each as stored, and each folded to
// one case.
void namekeys(int codepage, const std::vector<std::string>& parts, size_t count, std::string& exact,
              std::string& folded)
{
    exact.clear();
    folded.clear();
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            exact += '\\';
            folded += '\\';
        }
        exact += parts[i];
        folded += foldedcomponent(codepage, parts[i]);
    }
}

// Findings for names that cannot be written as listed: not in the code
// page, the same file twice (the same name, or names differing only in
// case: one file on Windows, where the later entry replaces the earlier),
// and a file standing where another entry needs a directory.
void namefindings(char which, const inspectedarchive& archive, int codepage, std::vector<finding>& findings)
{
    leadbytetest islead = leadbytesof(codepage);
    struct placed {
        std::string exact;
        const std::string* name;
    };
    std::map<std::string, placed> files;
    std::map<std::string, const std::string*> directories;
    for (const inspectedentry& entry : archive.entries) {
        if (!safename(archive, entry.name, islead)) continue;
        std::vector<std::string> parts = splitname(entry.name, islead);
        for (const std::string& part : parts) {
            std::string converted;
            if (toutf8(codepage, part, converted)) continue;
            findings.push_back(
                {which, entry.name, refusalwhy(TOOL_INSPECTOR, RULE_CODE_PAGE, std::to_string(codepage))});
            break;
        }
        std::string exact, folded;
        bool blocked = false;
        for (size_t count = 1; count < parts.size() && !blocked; ++count) {
            namekeys(codepage, parts, count, exact, folded);
            auto file = files.find(folded);
            if (file != files.end()) {
                findings.push_back(
                    {which, entry.name, refusalwhy(TOOL_INSPECTOR, RULE_FILE_ON_PATH), *file->second.name});
                blocked = true;
            }
            directories.emplace(folded, &entry.name);
        }
        if (blocked) continue;
        namekeys(codepage, parts, parts.size(), exact, folded);
        auto file = files.find(folded);
        auto directory = directories.find(folded);
        if (file != files.end() && file->second.exact == exact)
            findings.push_back({which, entry.name, refusalwhy(TOOL_INSPECTOR, RULE_NAMED_TWICE), *file->second.name});
        else if (file != files.end())
            findings.push_back({which, entry.name, refusalwhy(TOOL_INSPECTOR, RULE_CASE_TWIN), *file->second.name});
        else if (directory != directories.end())
            findings.push_back(
                {which, entry.name, refusalwhy(TOOL_INSPECTOR, RULE_DIRECTORY_NEEDED), *directory->second});
        else
            files.emplace(folded, placed{exact, &entry.name});
    }
}

// Hands the inflated data of an entry to a sink, piece by piece, and keeps
// their CRC-32 for the finding that names it.
struct sinkoutput {
    entrysink* sink;
    std::vector<char> piece = std::vector<char>(65536);
    uint32_t crc = uint32_t(crc32(0, nullptr, 0));

    bool take(size_t length)
    {
        crc = uint32_t(crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), unsigned(length)));
        return !sink || length == 0 || sink->data(reinterpret_cast<const unsigned char*>(piece.data()), length);
    }
    static char* buffer(void* self, size_t* size)
    {
        *size = static_cast<sinkoutput*>(self)->piece.size();
        return static_cast<sinkoutput*>(self)->piece.data();
    }
    static bool filled(void* self, size_t length) { return static_cast<sinkoutput*>(self)->take(length); }
};

} // namespace

const char* entryresulttext(int result)
{
    switch (result) {
    case ENTRY_OK: return "sound";
    case ENTRY_NO_INFO: return "central-directory record unreadable";
    case ENTRY_UNSAFE_NAME: return ruletext(TOOL_INSPECTOR, RULE_UNSAFE_NAME);
    case ENTRY_ENCRYPTED: return "encrypted";
    case ENTRY_OPEN_FAILED: return "local header unreadable or inconsistent";
    case ENTRY_DATA_DAMAGED: return "data damaged: decompression failed";
    case ENTRY_UNKNOWN_METHOD: return "compressed by a method the installer cannot decode";
    case ENTRY_SIZE_MISMATCH: return "size mismatch";
    case ENTRY_CRC_MISMATCH: return "CRC-32 mismatch";
    case ENTRY_CREATE_FAILED:
    case ENTRY_WRITE_FAILED: return "not written";
    default: return "unknown fault";
    }
}

int packageinspector::open(FILE* file)
{
    stream = file;
    info = inspectedpackage();
    info.a.top = PACKAGE_SETUP_TREE;
    info.b.top = PACKAGE_APP_TREE;
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
        if (!zip.handle()) {
            archive->opened = archive->complete = zip.emptyarchive();
            continue;
        }
        unz_global_info64 global;
        if (unzGetGlobalInfo64(zip.handle(), &global) != UNZ_OK) continue;
        archive->opened = true;
        archive->recorded = global.number_entry;
        for (uint64_t i = 0; i < global.number_entry; ++i) {
            inspectedentry entry;
            if (readentryrecord(zip.handle(), entry) != ENTRY_OK) break;
            archive->entries.push_back(entry);
            if (i + 1 < global.number_entry && unzGoToNextFile(zip.handle()) != UNZ_OK) break;
        }
        archive->complete = archive->entries.size() == global.number_entry;
    }
    return INSPECT_SOUND;
}

int packageinspector::readarchive(char which, leadbytetest islead, entrysink* sink, std::vector<finding>& findings)
{
    const inspectedarchive& archive = which == 'A' ? info.a : info.b;
    size_t before = findings.size();
    if (info.trailerpos < 0) {
        findings.push_back({which, "", "trailer offsets invalid: the archive cannot be found"});
        return INSPECT_FINDINGS;
    }
    if (!archive.opened) {
        findings.push_back({which, "", "no readable ZIP end of central directory in its region"});
        return INSPECT_FINDINGS;
    }
    if (!archive.complete)
        findings.push_back({which, "",
                            "the end record announces " + std::to_string(archive.recorded) + " entries, " +
                                std::to_string(archive.entries.size()) + " can be read"});
    openarchive zip(stream, archive);
    if (!zip.handle()) {
        if (!archive.entries.empty()) findings.push_back({which, "", "the archive cannot be opened again"});
        return findings.size() == before ? INSPECT_SOUND : INSPECT_FINDINGS;
    }
    std::vector<entryspan> spans;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        if (i > 0 && unzGoToNextFile(zip.handle()) != UNZ_OK) {
            findings.push_back({which, archive.entries[i].name, "central-directory record cannot be reached"});
            break;
        }
        inspectedentry entry;
        sinkoutput output{sink};
        size_t said = findings.size();
        int32_t result = readentryrecord(zip.handle(), entry);
        if (result == ENTRY_OK && !safename(archive, entry.name, islead)) result = ENTRY_UNSAFE_NAME;
        if (result == ENTRY_OK) result = openentrydata(zip.handle(), entry);
        if (result == ENTRY_OK) {
            uint64_t data = uint64_t(unzGetCurrentFileZStreamPos64(zip.handle()));
            uint64_t header = 30 + uint64_t(entry.name.size());
            spans.push_back({data < header ? 0 : data - header, data + entry.compressed, &archive.entries[i].name});
        }
        if (result == ENTRY_OK && sink && !sink->begin(entry)) {
            unzCloseCurrentFile(zip.handle());
            result = ENTRY_CREATE_FAILED;
        } else if (result == ENTRY_OK) {
            size_t last = 0;
            result =
                inflateentry(zip.handle(), entry, entryoutput{&output, sinkoutput::buffer, sinkoutput::filled}, &last);
            if (!output.take(last) && result == ENTRY_OK) result = ENTRY_WRITE_FAILED;
            if (sink) result = sink->end(result);
        }
        if (result == ENTRY_OK) continue;
        // A sink that refused an entry may have said why.
        if ((result == ENTRY_CREATE_FAILED || result == ENTRY_WRITE_FAILED) && findings.size() > said) continue;
        std::string text = entryresulttext(result);
        if (result == ENTRY_CRC_MISMATCH)
            text += " (recorded " + hex32(entry.crc) + ", data " + hex32(output.crc) + ")";
        if (result == ENTRY_SIZE_MISMATCH) text += " (recorded " + std::to_string(entry.size) + " bytes)";
        if (result == ENTRY_UNKNOWN_METHOD) text += " (method " + std::to_string(entry.method) + ")";
        findings.push_back({which, entry.name, text});
    }
    overlapfindings(which, spans, findings);
    return findings.size() == before ? INSPECT_SOUND : INSPECT_FINDINGS;
}

int packageinspector::verify(int codepage, std::vector<finding>& findings)
{
    return check(codepage, nullptr, findings);
}

int packageinspector::extract(int codepage, entrysink* sink, std::vector<finding>& findings)
{
    return check(codepage, sink, findings);
}

int packageinspector::check(int codepage, entrysink* sink, std::vector<finding>& findings)
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
        readarchive(which, leadbytesof(codepage), sink, findings);
        namefindings(which, *archive, codepage, findings);
    }
    bool setupprogram = false;
    for (const inspectedentry& entry : info.a.entries) setupprogram = setupprogram || issetupprogram(entry.name);
    if (!setupprogram)
        findings.push_back({'A', "", refusalwhy(TOOL_INSPECTOR, RULE_NO_SETUP_PROGRAM, PACKAGE_SETUP_PROGRAM)});
    return findings.size() == before ? INSPECT_SOUND : INSPECT_FINDINGS;
}
