// Reads the input as a package the way the inspector does: trailer, digests,
// both central directories, then every entry of both archives inflated and
// checked, with the name rule of a single-byte and of a double-byte code page.
// Whatever the bytes, the reading ends without a fault and its answers agree:
// a file without a trailer has nothing else, a sound verdict has no finding,
// and extract into a sink that takes everything finds what verify finds, so
// it never calls sound what verify does not.
#include "fuzzbytes.h"
#include "namecodec.h"
#include "packageinspect.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Takes every entry, and checks that data come only between begin and end.
class countingsink : public entrysink {
public:
    bool open = false;
    size_t entries = 0;

    bool begin(const inspectedentry&) override
    {
        open = true;
        ++entries;
        return true;
    }
    bool data(const unsigned char*, size_t) override { return open; }
    int32_t end(int32_t result) override
    {
        open = false;
        return result;
    }
};

void check(bool condition, const char* why)
{
    if (condition) return;
    std::fprintf(stderr, "%s\n", why);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    FILE* stream = openbytes(data, size);
    if (!stream) return 0;
    packageinspector inspector;
    int opened = inspector.open(stream);
    const inspectedpackage& p = inspector.package();
    if (opened == INSPECT_UNREADABLE) {
        check(p.a.entries.empty() && p.b.entries.empty(), "entries read from an unreadable file");
    } else {
        check(p.distance < 0, "a readable package without a marker");
        if (p.trailerpos >= 0) {
            check(p.a.start < p.b.start && p.b.start <= uint32_t(p.trailerpos), "regions out of order");
            check(uint64_t(p.trailerpos) + TRAILER_SIZE <= size, "trailer beyond the file");
        }
        for (int codepage : {1252, 936}) {
            std::vector<finding> findings;
            int verdict = inspector.verify(codepage, findings);
            check((verdict == INSPECT_SOUND) == findings.empty(), "verdict and findings disagree");
            for (const finding& f : findings) {
                std::string shown = shownname(codepage, f.name) + shownname(codepage, f.other);
                for (unsigned char c : shown) check(c >= 0x20 && c != 0x7F, "a control character shown raw");
            }
            countingsink sink;
            std::vector<finding> extracted;
            int written = inspector.extract(codepage, &sink, extracted);
            check(written == verdict, "extract and verify disagree");
            check(extracted.size() == findings.size(), "extract and verify find different things");
            check(!sink.open, "an entry begun and never ended");
        }
    }
    std::fclose(stream);
    return 0;
}
