// Writes a reproducible corpus for the archive benchmark below a directory:
// a "setup" tree of about 200 MiB in about 2000 files, from one seed. The mix:
// text-like files, incompressible (already compressed) files, many small
// files, and a few large ones.
//   archivecorpus <directory> [seed] [MiB]
#include <direct.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct generator {
    uint64_t state;
    uint32_t next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(state >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

const char* const WORDS[] = {"install",   "setup",   "package", "archive", "window",  "config", "source", "path",
                             "version",   "update",  "the",     "a",       "of",      "and",    "to",     "file",
                             "directory", "entry",   "value",   "element", "channel", "digest", "stream", "record",
                             "<item>",    "</item>", "name=\"", "\"",      "0",       "1",      "true",   "false"};

std::string text(generator& g, size_t size)
{
    std::string out;
    out.reserve(size + 32);
    while (out.size() < size) {
        int words = 4 + int(g.below(12));
        for (int i = 0; i < words; ++i) {
            out += WORDS[g.below(sizeof WORDS / sizeof *WORDS)];
            out += ' ';
        }
        out += "\r\n";
    }
    out.resize(size);
    return out;
}

std::string random(generator& g, size_t size)
{
    std::string out(size, '\0');
    for (size_t i = 0; i < size; i += 4) {
        uint32_t v = g.next();
        for (size_t k = 0; k < 4 && i + k < size; ++k) out[i + k] = char(v >> (8 * k));
    }
    return out;
}

bool write(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: archivecorpus <directory> [seed] [MiB]\n");
        return 2;
    }
    std::string root = argv[1];
    generator g{argc > 2 ? strtoull(argv[2], nullptr, 10) : 1};
    size_t total = size_t(argc > 3 ? atoi(argv[3]) : 200) << 20;

    _mkdir(root.c_str());
    std::string setup = root + "\\setup";
    _mkdir(setup.c_str());
    std::vector<std::string> dirs;
    for (int d = 0; d < 40; ++d) {
        std::string dir = setup + "\\d" + std::to_string(d);
        _mkdir(dir.c_str());
        dirs.push_back(dir);
        if (d % 4 == 0) {
            _mkdir((dir + "\\sub").c_str());
            dirs.push_back(dir + "\\sub");
        }
    }

    // A quarter of the volume in three large files, the rest spread out.
    size_t written = 0;
    int files = 0;
    const size_t LARGE = total / 12;
    for (int i = 0; i < 3; ++i) {
        std::string bytes = i == 1 ? random(g, LARGE) : text(g, LARGE);
        if (!write(setup + "\\large" + std::to_string(i) + ".bin", bytes)) return 1;
        written += bytes.size();
        ++files;
    }
    while (written < total) {
        std::string bytes;
        uint32_t kind = g.below(10);
        if (kind < 6)
            bytes = text(g, 100 + g.below(4000)); // many small
        else if (kind < 8)
            bytes = text(g, 50000 + g.below(300000)); // text-like
        else
            bytes = random(g, 50000 + g.below(300000)); // already compressed
        if (bytes.size() > total - written) bytes.resize(total - written);
        std::string path = dirs[g.below(uint32_t(dirs.size()))] + "\\f" + std::to_string(files) + ".dat";
        if (!write(path, bytes)) return 1;
        written += bytes.size();
        ++files;
    }
    printf("corpus: %d files, %.1f MiB below %s\n", files, written / 1048576.0, setup.c_str());
    return 0;
}
