// Checks every name safeentryname accepts against what its contract promises, read the way Windows
// converts the name: a double-byte character only where its second byte can be one (0x40 and up in
// every double-byte code page), otherwise the lead byte stands alone and the next byte is read by
// itself. The first input byte picks the code page model; the rest is the name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "entryname.h"

namespace {

// Lead bytes of the two shapes of double-byte code page: 932 (two ranges) and 936/949/950 (one).
bool leadsplit(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool leadwide(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

const leadbytetest MODELS[] = {nullptr, leadsplit, leadwide};

// One character of the converted name: a byte, or a double-byte character (never ASCII).
struct character {
    unsigned value;
    bool wide;
};

std::vector<character> convert(const std::string& name, leadbytetest islead)
{
    std::vector<character> out;
    for (size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (islead && islead(c) && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x40) {
            out.push_back({c * 256u + static_cast<unsigned char>(name[i + 1]), true});
            i += 2;
        } else {
            out.push_back({c, false});
            i += 1;
        }
    }
    return out;
}

bool narrow(const character& c, unsigned value) { return !c.wide && c.value == value; }
bool separator(const character& c) { return narrow(c, '\\') || narrow(c, '/'); }

unsigned upper(const character& c)
{
    return (!c.wide && c.value >= 'a' && c.value <= 'z') ? c.value - 'a' + 'A' : c.value;
}

// Whether text is word, letters compared without case (word in capitals).
bool spells(const std::vector<character>& text, const char* word)
{
    size_t i = 0;
    for (; word[i]; ++i)
        if (i >= text.size() || text[i].wide || upper(text[i]) != static_cast<unsigned char>(word[i])) return false;
    return i == text.size();
}

// Whether text is exactly word.
bool exactly(const std::vector<character>& text, const char* word)
{
    size_t i = 0;
    for (; word[i]; ++i)
        if (i >= text.size() || !narrow(text[i], static_cast<unsigned char>(word[i]))) return false;
    return i == text.size();
}

// What Windows reads as a device: the part before the first dot, trailing spaces dropped.
bool device(const std::vector<character>& component, bool singlebyte)
{
    std::vector<character> base;
    for (const character& c : component) {
        if (narrow(c, '.')) break;
        base.push_back(c);
    }
    while (!base.empty() && narrow(base.back(), ' ')) base.pop_back();
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"})
        if (spells(base, name)) return true;
    if (base.size() != 4 || base[3].wide) return false;
    const std::vector<character> stem(base.begin(), base.begin() + 3);
    if (!spells(stem, "COM") && !spells(stem, "LPT")) return false;
    const unsigned digit = base[3].value;
    // Superscript one, two and three of the single-byte code pages count as digits there.
    return (digit >= '0' && digit <= '9') || (singlebyte && (digit == 0xB9 || digit == 0xB2 || digit == 0xB3));
}

[[noreturn]] void fail(const char* why, const std::string& name, int model)
{
    std::fprintf(stderr, "name under model %d: %s:", model, why);
    for (unsigned char c : name) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

void checkaccepted(const std::string& name, int model)
{
    const leadbytetest islead = MODELS[model];
    if (name.empty() || name.size() >= size_t(ENTRY_NAME_SIZE))
        fail("accepted, yet its length is out of range", name, model);
    const std::vector<character> text = convert(name, islead);
    std::vector<std::vector<character>> components(1);
    for (const character& c : text) {
        if (separator(c)) {
            components.emplace_back();
            continue;
        }
        if (!c.wide && c.value < 0x20) fail("accepted, yet it holds a control character", name, model);
        if (narrow(c, ':')) fail("accepted, yet it holds a colon", name, model);
        for (char w : std::string("*?\"<>|"))
            if (narrow(c, static_cast<unsigned char>(w))) fail("accepted, yet it holds a wildcard", name, model);
        components.back().push_back(c);
    }
    if (components.size() < 2 || !exactly(components[0], "setup"))
        fail("accepted, yet it does not start with setup\\", name, model);
    for (const std::vector<character>& component : components) {
        if (component.empty()) fail("accepted, yet a component is empty (or the name is rooted)", name, model);
        if (exactly(component, ".") || exactly(component, ".."))
            fail("accepted, yet a component is . or ..", name, model);
        if (narrow(component.back(), '.') || narrow(component.back(), ' '))
            fail("accepted, yet a component ends in a dot or space", name, model);
        if (device(component, islead == nullptr)) fail("accepted, yet a component names a device", name, model);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const int model = data[0] % 3;
    std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
    name = name.substr(0, name.find('\0'));
    const bool safe = safeentryname(name.c_str(), MODELS[model]);
    if (safe) checkaccepted(name, model);
    // Lead bytes are all 0x80 and up: a name in plain ASCII gets the same verdict in every model.
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;
    if (ascii)
        for (leadbytetest other : MODELS)
            if (safeentryname(name.c_str(), other) != safe) fail("its verdict depends on the model", name, model);
    return 0;
}
