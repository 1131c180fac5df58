// The floor of the install benchmark: the least a Windows program can do to
// unpack a ZIP archive. It reads the central directory, then for each entry
// in order inflates its data with zlib (checking the CRC, as any extractor
// must) and writes the file below a directory. No digest, no window, no
// threads; large buffers.
//   zlibfloor <archive.zip> <directory>
#include <windows.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const size_t CHUNK = 1 << 20;

uint32_t get32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t get16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

bool seekto(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER position;
    position.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
}

bool readat(HANDLE file, uint64_t offset, void* out, DWORD length)
{
    DWORD got = 0;
    return seekto(file, offset) && ReadFile(file, out, length, &got, nullptr) && got == length;
}

// Creates every directory on the way to path's last separator; entries of
// one directory follow each other, so the last one made is remembered.
void makeparents(const std::string& path)
{
    static std::string made;
    size_t last = path.rfind('\\');
    if (last == std::string::npos || (made.size() == last && path.compare(0, last, made) == 0)) return;
    for (size_t i = path.find('\\', 3); i != std::string::npos && i <= last; i = path.find('\\', i + 1))
        CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    made = path.substr(0, last);
}

struct entry {
    std::string name;
    uint16_t method;
    uint32_t crc;
    uint32_t packed;
    uint32_t size;
    uint32_t local;
};

bool readdirectory(HANDLE file, std::vector<entry>& entries)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 22) return false;
    DWORD tail = DWORD(size.QuadPart < 65557 ? size.QuadPart : 65557);
    std::vector<unsigned char> end(tail);
    if (!readat(file, uint64_t(size.QuadPart) - tail, end.data(), tail)) return false;
    long at = long(tail) - 22;
    while (at >= 0 && get32(&end[size_t(at)]) != 0x06054b50) --at;
    if (at < 0) return false;
    uint32_t count = get16(&end[size_t(at) + 10]);
    uint32_t length = get32(&end[size_t(at) + 12]);
    uint32_t offset = get32(&end[size_t(at) + 16]);
    std::vector<unsigned char> directory(length);
    if (!readat(file, offset, directory.data(), length)) return false;
    size_t p = 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (p + 46 > length || get32(&directory[p]) != 0x02014b50) return false;
        const unsigned char* h = &directory[p];
        entry e;
        e.method = get16(h + 10);
        e.crc = get32(h + 16);
        e.packed = get32(h + 20);
        e.size = get32(h + 24);
        e.local = get32(h + 42);
        size_t namelength = get16(h + 28);
        e.name.assign(reinterpret_cast<const char*>(h + 46), namelength);
        p += 46 + namelength + get16(h + 30) + get16(h + 32);
        entries.push_back(e);
    }
    return true;
}

bool extract(HANDLE file, const entry& e, const std::string& target, std::vector<unsigned char>& in,
             std::vector<unsigned char>& out)
{
    unsigned char local[30];
    if (!readat(file, e.local, local, 30) || get32(local) != 0x04034b50) return false;
    uint64_t data = uint64_t(e.local) + 30 + get16(local + 26) + get16(local + 28);
    if (!seekto(file, data)) return false;

    makeparents(target);
    HANDLE output =
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return false;
    z_stream z = {};
    if (e.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        CloseHandle(output);
        return false;
    }
    uLong crc = crc32(0, nullptr, 0);
    uint32_t left = e.packed;
    bool ok = true;
    int status = Z_OK;
    while (ok && left > 0 && status != Z_STREAM_END) {
        DWORD want = DWORD(left < in.size() ? left : in.size()), got = 0;
        ok = ReadFile(file, in.data(), want, &got, nullptr) && got == want;
        left -= want;
        if (!ok) break;
        if (e.method == 0) {
            DWORD written = 0;
            crc = crc32(crc, in.data(), got);
            ok = WriteFile(output, in.data(), got, &written, nullptr) && written == got;
            continue;
        }
        z.next_in = in.data();
        z.avail_in = got;
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) {
                ok = false;
                break;
            }
            DWORD produced = DWORD(out.size() - z.avail_out), written = 0;
            crc = crc32(crc, out.data(), produced);
            ok = WriteFile(output, out.data(), produced, &written, nullptr) && written == produced;
        } while (ok && z.avail_in > 0 && status != Z_STREAM_END);
    }
    if (e.method == 8) inflateEnd(&z);
    CloseHandle(output);
    return ok && crc == e.crc;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: zlibfloor <archive.zip> <directory>\n");
        return 2;
    }
    HANDLE file =
        CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::vector<entry> entries;
    if (!readdirectory(file, entries)) {
        fprintf(stderr, "zlibfloor: no central directory in %s\n", argv[1]);
        return 1;
    }
    std::string root = argv[2];
    CreateDirectoryA(root.c_str(), nullptr);
    std::vector<unsigned char> in(CHUNK), out(CHUNK);
    for (const entry& e : entries) {
        std::string target = root + "\\" + e.name;
        for (char& c : target)
            if (c == '/') c = '\\';
        if (target.back() == '\\') {
            makeparents(target);
            continue;
        }
        if (!extract(file, e, target, in, out)) {
            fprintf(stderr, "zlibfloor: %s failed\n", e.name.c_str());
            return 1;
        }
    }
    CloseHandle(file);
    return 0;
}
