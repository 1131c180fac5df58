// The native packer's input parsing: an icon file and a program. The input
// is a 16-bit little-endian length L, L bytes of icon file, then the program.
// The icon file is read as the packer reads it; its images (or, when it is
// not a complete icon file, one small image) go into the program. Checked:
// the parser never reads outside the input; a rewritten program lists its
// resources again, every identifier the builder writes holds its image, and
// rewriting it once more with the same images gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "icofile.h"
#include "peresource.h"

namespace {

[[noreturn]] void fail(const char* why, long long a, long long b)
{
    std::fprintf(stderr, "%s (%lld, %lld)\n", why, a, b);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    size_t iconlength = size_t(data[0] | data[1] << 8);
    if (iconlength > size - 2) iconlength = size - 2;
    const uint8_t* icon = data + 2;
    std::string program(reinterpret_cast<const char*>(icon + iconlength), size - 2 - iconlength);

    std::vector<iconentry> entries;
    std::vector<std::string> images;
    if (readicondirectory(icon, iconlength, iconlength, entries) == ICON_OK) {
        for (const iconentry& e : entries) {
            if (uint64_t(e.offset) + e.size > iconlength) fail("image outside the icon file", e.offset, e.size);
            images.emplace_back(reinterpret_cast<const char*>(icon + e.offset), e.size);
        }
    } else {
        images.push_back("image");
    }

    std::vector<resourceleaf> before;
    int listed = listresources(program, before);
    std::string after;
    int result = replaceiconimages(program, images, after);
    if (result != PE_OK) {
        if (!after.empty()) fail("a refused program came back with bytes", result, (long long)after.size());
        return 0;
    }
    if (listed != PE_OK) fail("rewritten a program whose resources were refused", listed, 0);

    std::vector<resourceleaf> leaves;
    if (listresources(after, leaves) != PE_OK) fail("the rewritten program does not list", 0, 0);
    for (const iconslot& slot : iconslots(uint16_t(images.size()))) {
        bool found = false;
        for (const resourceleaf& leaf : leaves) {
            if (leaf.type == 3 && leaf.id == slot.id && leaf.language == 1033) {
                if (leaf.data != images[slot.entry]) fail("an icon holds other bytes", slot.id, slot.entry);
                found = true;
            }
        }
        if (!found) fail("an icon identifier is missing", slot.id, 0);
    }
    std::string again;
    if (replaceiconimages(after, images, again) != PE_OK || again != after)
        fail("a second rewrite with the same images differs", (long long)after.size(), (long long)again.size());
    return 0;
}
