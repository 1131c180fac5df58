#include "ziptestkit.h"

#include "bytes.h"

#include <windows.h>
#include <zlib.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ziptest {

namespace {

uint64_t get64(const std::string& b, size_t at) { return uint64_t(get32(b, at)) | uint64_t(get32(b, at + 4)) << 32; }

void put16(std::string& b, uint32_t v)
{
    b.push_back(char(v & 0xff));
    b.push_back(char((v >> 8) & 0xff));
}

void put32(std::string& b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

void listtree(const std::string& root, const std::string& relative, std::vector<std::string>& out)
{
    std::string dir = relative.empty() ? root : root + "\\" + relative;
    _finddata_t found;
    intptr_t h = _findfirst((dir + "\\*").c_str(), &found);
    if (h == -1) return;
    do {
        std::string name = found.name;
        if (name == "." || name == "..") continue;
        std::string rel = relative.empty() ? name : relative + "\\" + name;
        if (found.attrib & _A_SUBDIR)
            listtree(root, rel, out);
        else
            out.push_back(rel);
    } while (_findnext(h, &found) == 0);
    _findclose(h);
}

} // namespace

parsedzip parsezip(const std::string& b)
{
    parsedzip z;
    if (b.size() < 22) {
        z.fault = "shorter than an end record";
        return z;
    }
    size_t eocd = b.size() - 22;
    if (get32(b, eocd) != 0x06054b50) {
        z.fault = "no end record at the end";
        return z;
    }
    z.disk = get16(b, eocd + 4);
    z.cddisk = get16(b, eocd + 6);
    z.diskentries = get16(b, eocd + 8);
    z.totalentries = get16(b, eocd + 10);
    z.cdsize = get32(b, eocd + 12);
    z.cdoffset = get32(b, eocd + 16);
    z.commentlength = get16(b, eocd + 20);
    z.entries = z.totalentries;
    uint64_t cdoffset = z.cdoffset;
    if (eocd >= 20 && get32(b, eocd - 20) == 0x07064b50) {
        z.zip64 = true;
        z.zip64recordoffset = get64(b, eocd - 20 + 8);
        size_t r = size_t(z.zip64recordoffset);
        if (r + 56 > b.size() || get32(b, r) != 0x06064b50) {
            z.fault = "zip64 record not where the locator says";
            return z;
        }
        z.zip64entries = get64(b, r + 32);
        z.zip64cdsize = get64(b, r + 40);
        z.zip64cdoffset = get64(b, r + 48);
        z.entries = z.zip64entries;
        cdoffset = z.zip64cdoffset;
    }
    size_t at = size_t(cdoffset);
    for (uint64_t i = 0; i < z.entries; ++i) {
        if (at + 46 > b.size() || get32(b, at) != 0x02014b50) {
            z.fault = "bad central record " + std::to_string(i);
            return z;
        }
        centralrecord c;
        c.madeby = get16(b, at + 4);
        c.needed = get16(b, at + 6);
        c.flags = get16(b, at + 8);
        c.method = get16(b, at + 10);
        c.time = get16(b, at + 12);
        c.date = get16(b, at + 14);
        c.crc = get32(b, at + 16);
        c.compressed = get32(b, at + 20);
        c.uncompressed = get32(b, at + 24);
        c.namelength = get16(b, at + 28);
        c.extralength = get16(b, at + 30);
        c.commentlength = get16(b, at + 32);
        c.disk = get16(b, at + 34);
        c.internal = get16(b, at + 36);
        c.external = get32(b, at + 38);
        c.localoffset = get32(b, at + 42);
        c.name = b.substr(at + 46, c.namelength);
        at += 46 + c.namelength + c.extralength + c.commentlength;
        z.central.push_back(c);

        size_t l = c.localoffset;
        if (l + 30 > b.size() || get32(b, l) != 0x04034b50) {
            z.fault = "bad local header " + std::to_string(i);
            return z;
        }
        localrecord h;
        h.needed = get16(b, l + 4);
        h.flags = get16(b, l + 6);
        h.method = get16(b, l + 8);
        h.time = get16(b, l + 10);
        h.date = get16(b, l + 12);
        h.crc = get32(b, l + 14);
        h.compressed = get32(b, l + 18);
        h.uncompressed = get32(b, l + 22);
        h.namelength = get16(b, l + 26);
        h.extralength = get16(b, l + 28);
        h.name = b.substr(l + 30, h.namelength);
        h.data = b.substr(l + 30 + h.namelength + h.extralength, h.compressed);
        z.local.push_back(h);
    }
    return z;
}

bool rawinflate(const std::string& compressed, std::string& out)
{
    z_stream s = {};
    inflateInit2(&s, -MAX_WBITS);
    s.next_in = (Bytef*)compressed.data();
    s.avail_in = uInt(compressed.size());
    out.clear();
    char piece[16384];
    int rc;
    do {
        s.next_out = (Bytef*)piece;
        s.avail_out = sizeof piece;
        rc = inflate(&s, Z_NO_FLUSH);
        out.append(piece, sizeof piece - s.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

uint32_t crc(const std::string& data) { return uint32_t(crc32(0, (const Bytef*)data.data(), uInt(data.size()))); }

std::string makezip(const std::vector<handentry>& entries)
{
    std::string body, central;
    for (const handentry& e : entries) {
        std::string packed = e.compressed.empty() ? rawdeflate(e.data) : e.compressed;
        uint32_t sum = crc(e.data) + uint32_t(e.crcdelta);
        uint32_t offset = uint32_t(body.size());
        put32(body, 0x04034b50);
        put16(body, 20);
        put16(body, e.flags);
        put16(body, e.method);
        put16(body, 0);
        put16(body, 0x20);
        put32(body, sum);
        put32(body, uint32_t(packed.size()));
        put32(body, uint32_t(e.data.size()));
        put16(body, uint32_t(int32_t(e.name.size()) + e.localnamedelta));
        put16(body, 0);
        body += e.name + packed;

        put32(central, 0x02014b50);
        put16(central, 0);
        put16(central, 20);
        put16(central, e.flags);
        put16(central, e.method);
        put16(central, 0);
        put16(central, 0x20);
        put32(central, sum);
        put32(central, uint32_t(packed.size()));
        put32(central, uint32_t(e.data.size()));
        put16(central, uint32_t(e.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, offset);
        central += e.name;
    }
    std::string zip = body + central;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, uint32_t(entries.size()));
    put16(zip, uint32_t(entries.size()));
    put32(zip, uint32_t(central.size()));
    put32(zip, uint32_t(body.size()));
    put16(zip, 0);
    return zip;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string cwd()
{
    char* dir = _getcwd(nullptr, 0);
    std::string out = dir ? dir : "";
    free(dir);
    return out;
}

std::vector<std::string> treefiles(const std::string& dir)
{
    std::vector<std::string> out;
    listtree(dir, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

cwdguard::cwdguard() : saved(cwd()) {}
cwdguard::~cwdguard() { _chdir(saved.c_str()); }

tmpguard::tmpguard(const std::string& dir)
{
    wchar_t value[32768];
    DWORD n = GetEnvironmentVariableW(L"TMP", value, 32768);
    had = n > 0 && n < 32768;
    if (had) saved = value;
    std::wstring wide(dir.begin(), dir.end());
    SetEnvironmentVariableW(L"TMP", wide.c_str());
}

tmpguard::~tmpguard() { SetEnvironmentVariableW(L"TMP", had ? saved.c_str() : nullptr); }

stdoutcapture::stdoutcapture() : savedfd(-1), done(false)
{
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "out", 0, file);
    path = file;
    fflush(stdout);
    savedfd = _dup(1);
    int fd = _open(file, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(fd, 1);
    _close(fd);
}

std::string stdoutcapture::finish()
{
    if (!done) {
        fflush(stdout);
        _dup2(savedfd, 1);
        _close(savedfd);
        text = readfile(path);
        remove(path.c_str());
        done = true;
    }
    return text;
}

stdoutcapture::~stdoutcapture() { finish(); }

} // namespace ziptest
