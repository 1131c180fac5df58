// Reads the input as a package the way the inspector does: trailer, digests,
// both central directories, then every entry of both archives inflated and
// checked, with the name rule of a single-byte and of a double-byte code page.
// Whatever the bytes, the reading ends without a fault and its answers agree:
// a file without a trailer has nothing else, a sound verdict has no finding.
#include "fuzzbytes.h"
#include "namecodec.h"
#include "packageinspect.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

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
            int verdict = inspector.verify(leadbytesof(codepage), findings);
            check((verdict == INSPECT_SOUND) == findings.empty(), "verdict and findings disagree");
            for (const finding& f : findings) {
                std::string shown;
                toutf8(codepage, f.name, shown);
            }
        }
    }
    std::fclose(stream);
    return 0;
}
