#include "peresource.h"

#include "bytes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace {

const uint32_t RT_ICON_TYPE = 3;
const uint32_t ICON_LANGUAGE = 1033;
const uint32_t RESOURCE_DIRECTORY = 2;
const uint32_t SECURITY_DIRECTORY = 4;
const uint32_t RELOCATION_DIRECTORY = 5;
const size_t SECTION_HEADER_SIZE = 40;
const uint32_t HIGH_BIT = 0x80000000u;
// Bounds for a resource tree read from an untrusted program: entries visited
// (a directory may be shared, so visits, not directories, are counted) and
// bytes copied.
const uint32_t MAX_VISITS = 1u << 16;
const uint64_t MAX_RESOURCE_BYTES = 256u << 20;
const uint64_t PROGRAM_LIMIT = 0x80000000u;
// Type, name, language: the leaves lie three levels down.
const int MAX_DEPTH = 3;
const uint32_t INITIALIZED_DATA = 0x40;
const uint32_t NEW_SECTION_FLAGS = 0x40000040u; // initialised data, readable
const size_t DATA_ALIGN = 8;

void put16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}
unsigned char* at(std::string& bytes, size_t offset) { return reinterpret_cast<unsigned char*>(&bytes[offset]); }

uint64_t alignup(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }
bool poweroftwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

struct section {
    size_t header; // offset of its header in the file
    uint32_t vsize, va, rawsize, rawptr, flags;
};

struct peimage {
    size_t coff = 0;
    size_t optional = 0;
    size_t directories = 0; // offset of the data directory array
    uint32_t directorycount = 0;
    uint32_t sectionalign = 0;
    uint32_t filealign = 0;
    uint32_t headersize = 0;
    size_t sectiontable = 0;
    std::vector<section> sections;

    size_t checksumat() const { return optional + 64; }
    uint32_t directoryrva(const std::string& p, uint32_t i) const
    {
        return i < directorycount ? get32(p, directories + 8 * i) : 0;
    }
    uint32_t directorysize(const std::string& p, uint32_t i) const
    {
        return i < directorycount ? get32(p, directories + 8 * i + 4) : 0;
    }
    uint64_t span(const section& s) const { return alignup(s.vsize ? s.vsize : s.rawsize, sectionalign); }
};

int readheaders(const std::string& p, peimage& pe)
{
    if (p.size() < 64 || p[0] != 'M' || p[1] != 'Z') return PE_NOT_PROGRAM;
    uint64_t signature = get32(p, 0x3c);
    if (signature + 24 > p.size() || memcmp(p.data() + signature, "PE\0\0", 4) != 0) return PE_NOT_PROGRAM;
    pe.coff = size_t(signature) + 4;
    uint16_t count = get16(p, pe.coff + 2);
    uint16_t optionalsize = get16(p, pe.coff + 16);
    pe.optional = pe.coff + 20;
    if (pe.optional + optionalsize > p.size() || optionalsize < 2) return PE_NOT_PROGRAM;
    uint16_t magic = get16(p, pe.optional);
    size_t directories = 0;
    if (magic == 0x10b) {
        directories = 96;
    } else if (magic == 0x20b) {
        directories = 112;
    } else {
        return PE_NOT_PROGRAM;
    }
    if (optionalsize < directories) return PE_BAD_HEADERS;
    pe.directorycount = get32(p, pe.optional + directories - 4);
    if (pe.directorycount > 16 || directories + 8 * uint64_t(pe.directorycount) > optionalsize) return PE_BAD_HEADERS;
    pe.directories = pe.optional + directories;
    pe.sectionalign = get32(p, pe.optional + 32);
    pe.filealign = get32(p, pe.optional + 36);
    pe.headersize = get32(p, pe.optional + 60);
    if (!poweroftwo(pe.filealign) || pe.filealign > 0x10000 || !poweroftwo(pe.sectionalign) ||
        pe.sectionalign < pe.filealign || pe.sectionalign > (1u << 28))
        return PE_BAD_HEADERS;
    if (pe.headersize > p.size()) return PE_BAD_HEADERS;
    pe.sectiontable = pe.optional + optionalsize;
    if (pe.sectiontable + SECTION_HEADER_SIZE * count > std::min<uint64_t>(p.size(), pe.headersize))
        return PE_BAD_HEADERS;
    uint64_t nextva = 0;
    for (uint16_t i = 0; i < count; ++i) {
        size_t h = pe.sectiontable + SECTION_HEADER_SIZE * i;
        section s{h, get32(p, h + 8), get32(p, h + 12), get32(p, h + 16), get32(p, h + 20), get32(p, h + 36)};
        if (s.rawptr > p.size() ||
            (s.rawsize > 0 && (s.rawptr < pe.headersize || uint64_t(s.rawptr) + s.rawsize > p.size())))
            return PE_BAD_HEADERS;
        // Ascending and apart, as the loader requires: a section moved by
        // the rewrite cannot land on another.
        if (s.va < nextva || s.va % pe.sectionalign != 0) return PE_BAD_HEADERS;
        nextva = uint64_t(s.va) + pe.span(s);
        if (nextva > 0xFFFFFFFFu) return PE_BAD_HEADERS;
        pe.sections.push_back(s);
    }
    return PE_OK;
}

struct resdir;

struct resentry {
    bool named = false;
    uint32_t id = 0;
    std::string name; // UTF-16LE units of a named entry
    std::unique_ptr<resdir> dir;
    std::string data;
    uint32_t codepage = 0;
    uint32_t reserved = 0;
};

struct resdir {
    uint32_t characteristics = 0;
    uint32_t timestamp = 0;
    uint16_t major = 0;
    uint16_t minor = 0;
    std::vector<resentry> entries;
};

class treereader {
public:
    treereader(const std::string& p, const peimage& pe, const section& home) : p(p), pe(pe), home(home) {}

    bool readdir(uint32_t offset, int depth, resdir& out)
    {
        if (depth >= MAX_DEPTH || !inside(offset, 16)) return false;
        const size_t base = home.rawptr + size_t(offset);
        out.characteristics = get32(p, base);
        out.timestamp = get32(p, base + 4);
        out.major = get16(p, base + 8);
        out.minor = get16(p, base + 10);
        uint32_t count = uint32_t(get16(p, base + 12)) + get16(p, base + 14);
        visits += count;
        if (visits > MAX_VISITS || !inside(offset + 16ull, 8ull * count)) return false;
        out.entries.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            size_t e = base + 16 + 8 * size_t(i);
            uint32_t nameword = get32(p, e);
            uint32_t target = get32(p, e + 4);
            resentry& entry = out.entries[i];
            if (nameword & HIGH_BIT) {
                uint32_t name = nameword & ~HIGH_BIT;
                if (!inside(name, 2)) return false;
                uint16_t units = get16(p, home.rawptr + size_t(name));
                if (!inside(name + 2ull, 2ull * units)) return false;
                entry.named = true;
                entry.name.assign(p, home.rawptr + size_t(name) + 2, 2 * size_t(units));
            } else {
                entry.id = nameword;
            }
            if (target & HIGH_BIT) {
                entry.dir = std::make_unique<resdir>();
                if (!readdir(target & ~HIGH_BIT, depth + 1, *entry.dir)) return false;
            } else if (!readdata(target, entry)) {
                return false;
            }
        }
        return true;
    }

private:
    bool inside(uint64_t offset, uint64_t length) const { return offset + length <= home.rawsize; }

    bool readdata(uint32_t offset, resentry& entry)
    {
        if (!inside(offset, 16)) return false;
        size_t base = home.rawptr + size_t(offset);
        uint32_t rva = get32(p, base);
        uint32_t size = get32(p, base + 4);
        entry.codepage = get32(p, base + 8);
        entry.reserved = get32(p, base + 12);
        bytes += size;
        if (bytes > MAX_RESOURCE_BYTES) return false;
        for (const section& s : pe.sections) {
            if (rva >= s.va && uint64_t(rva) + size <= uint64_t(s.va) + s.rawsize) {
                entry.data.assign(p, s.rawptr + size_t(rva - s.va), size);
                return true;
            }
        }
        return false;
    }

    const std::string& p;
    const peimage& pe;
    const section& home;
    uint32_t visits = 0;
    uint64_t bytes = 0;
};

// Named entries first in the order they came, then identifiers ascending:
// the order the loader's search expects. False when a directory names one
// entry twice: which of them the loader finds is not defined.
bool sortentries(resdir& dir)
{
    std::stable_sort(dir.entries.begin(), dir.entries.end(), [](const resentry& a, const resentry& b) {
        if (a.named != b.named) return a.named;
        return !a.named && a.id < b.id;
    });
    std::set<std::string> names;
    for (size_t i = 0; i < dir.entries.size(); ++i) {
        const resentry& entry = dir.entries[i];
        if (entry.named ? !names.insert(entry.name).second
                        : i > 0 && !dir.entries[i - 1].named && dir.entries[i - 1].id == entry.id)
            return false;
    }
    for (resentry& entry : dir.entries)
        if (entry.dir && !sortentries(*entry.dir)) return false;
    return true;
}

// The entry with integer identifier id, made in its sorted place when absent.
resentry& identry(resdir& dir, uint32_t id)
{
    auto place = std::find_if(dir.entries.begin(), dir.entries.end(),
                              [id](const resentry& e) { return !e.named && e.id >= id; });
    if (place != dir.entries.end() && place->id == id) return *place;
    resentry made;
    made.id = id;
    return *dir.entries.insert(place, std::move(made));
}

// The subdirectory of entry id, made when absent; null when id holds data.
resdir* subdir(resdir& dir, uint32_t id)
{
    resentry& entry = identry(dir, id);
    if (!entry.dir) {
        if (!entry.data.empty()) return nullptr;
        entry.dir = std::make_unique<resdir>();
    }
    return entry.dir.get();
}

bool putimages(resdir& root, const std::vector<std::string>& images)
{
    for (const iconslot& slot : iconslots(uint16_t(images.size()))) {
        resdir* type = subdir(root, RT_ICON_TYPE);
        resdir* name = type ? subdir(*type, slot.id) : nullptr;
        if (!name) return false;
        resentry& leaf = identry(*name, ICON_LANGUAGE);
        if (leaf.dir) return false;
        leaf.data = images[slot.entry];
        leaf.codepage = 0;
        leaf.reserved = 0;
    }
    return true;
}

// The tree as a resource section starting at rva: every directory (breadth
// first), the data entries, the names, then the data, each 8-byte aligned.
bool writetree(const resdir& root, uint32_t rva, std::string& out)
{
    std::vector<const resdir*> dirs{&root};
    std::vector<const resentry*> leaves;
    std::vector<const resentry*> names;
    std::map<const resdir*, uint32_t> diroffset;
    std::map<const resentry*, uint32_t> leafoffset;
    std::map<const resentry*, uint32_t> nameoffset;
    uint64_t size = 0;
    for (size_t i = 0; i < dirs.size(); ++i) {
        diroffset[dirs[i]] = uint32_t(size);
        size += 16 + 8 * uint64_t(dirs[i]->entries.size());
        for (const resentry& entry : dirs[i]->entries) {
            if (entry.named) names.push_back(&entry);
            if (entry.dir) {
                dirs.push_back(entry.dir.get());
            } else {
                leaves.push_back(&entry);
            }
        }
    }
    for (const resentry* leaf : leaves) {
        leafoffset[leaf] = uint32_t(size);
        size += 16;
    }
    for (const resentry* named : names) {
        nameoffset[named] = uint32_t(size);
        size += 2 + named->name.size();
    }
    std::vector<uint64_t> dataoffset;
    for (const resentry* leaf : leaves) {
        size = alignup(size, DATA_ALIGN);
        dataoffset.push_back(size);
        size += leaf->data.size();
    }
    if (uint64_t(rva) + size >= PROGRAM_LIMIT) return false;

    out.assign(size_t(size), '\0');
    for (const resdir* dir : dirs) {
        unsigned char* d = at(out, diroffset[dir]);
        put32(d, dir->characteristics);
        put32(d + 4, dir->timestamp);
        put16(d + 8, dir->major);
        put16(d + 10, dir->minor);
        uint16_t named = uint16_t(
            std::count_if(dir->entries.begin(), dir->entries.end(), [](const resentry& e) { return e.named; }));
        put16(d + 12, named);
        put16(d + 14, uint16_t(dir->entries.size() - named));
        unsigned char* e = d + 16;
        for (const resentry& entry : dir->entries) {
            put32(e, entry.named ? HIGH_BIT | nameoffset[&entry] : entry.id);
            put32(e + 4, entry.dir ? HIGH_BIT | diroffset[entry.dir.get()] : leafoffset[&entry]);
            e += 8;
        }
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        unsigned char* d = at(out, leafoffset[leaves[i]]);
        put32(d, uint32_t(rva + dataoffset[i]));
        put32(d + 4, uint32_t(leaves[i]->data.size()));
        put32(d + 8, leaves[i]->codepage);
        put32(d + 12, leaves[i]->reserved);
        if (!leaves[i]->data.empty())
            memcpy(at(out, size_t(dataoffset[i])), leaves[i]->data.data(), leaves[i]->data.size());
    }
    for (const resentry* named : names) {
        unsigned char* d = at(out, nameoffset[named]);
        put16(d, uint16_t(named->name.size() / 2));
        if (!named->name.empty()) memcpy(d + 2, named->name.data(), named->name.size());
    }
    return true;
}

// The index of the section the resource directory starts, sections.size()
// when the program has none; false when it lies elsewhere than at the start
// of a section.
bool findresources(const std::string& p, const peimage& pe, size_t& index)
{
    uint32_t rva = pe.directoryrva(p, RESOURCE_DIRECTORY);
    index = pe.sections.size();
    if (rva == 0 && pe.directorysize(p, RESOURCE_DIRECTORY) == 0) return true;
    for (size_t i = 0; i < pe.sections.size(); ++i)
        if (pe.sections[i].va == rva) index = i;
    return index < pe.sections.size();
}

int readtree(const std::string& p, const peimage& pe, size_t index, resdir& root)
{
    if (index == pe.sections.size()) return PE_OK;
    treereader reader(p, pe, pe.sections[index]);
    if (!reader.readdir(0, 0, root) || !sortentries(root)) return PE_BAD_RESOURCES;
    return PE_OK;
}

// Adds an empty section header for the resources after the last section;
// false when the headers have no room for it or data follows the sections.
bool addsection(std::string& p, peimage& pe)
{
    size_t header = pe.sectiontable + SECTION_HEADER_SIZE * pe.sections.size();
    uint64_t firstraw = pe.headersize;
    uint64_t endraw = pe.headersize;
    uint64_t endva = alignup(pe.headersize, pe.sectionalign);
    for (const section& s : pe.sections) {
        if (s.rawsize > 0) {
            firstraw = std::min<uint64_t>(firstraw, s.rawptr);
            endraw = std::max<uint64_t>(endraw, uint64_t(s.rawptr) + s.rawsize);
        }
        endva = std::max<uint64_t>(endva, s.va + pe.span(s));
    }
    if (header + SECTION_HEADER_SIZE > firstraw || pe.sections.size() >= 0xFFFF) return false;
    if (p.size() > endraw) return false;
    for (size_t i = 0; i < SECTION_HEADER_SIZE; ++i)
        if (p[header + i] != 0) return false;
    endraw = alignup(endraw, pe.filealign);
    p.resize(size_t(endraw), '\0');
    memcpy(at(p, header), ".rsrc\0\0\0", 8);
    put32(at(p, header + 12), uint32_t(endva));
    put32(at(p, header + 20), uint32_t(endraw));
    put32(at(p, header + 36), NEW_SECTION_FLAGS);
    put16(at(p, pe.coff + 2), uint16_t(pe.sections.size() + 1));
    pe.sections.push_back({header, 0, uint32_t(endva), 0, uint32_t(endraw), NEW_SECTION_FLAGS});
    if (pe.directorycount <= RESOURCE_DIRECTORY) return false;
    return true;
}

// Puts resources (laid out for the section's address) in place of section
// index of p; the sections after it move when it changes size.
int placesection(const std::string& p, const peimage& pe, size_t index, const std::string& resources, std::string& out)
{
    const section& home = pe.sections[index];
    uint64_t newraw = alignup(resources.size(), pe.filealign);
    int64_t movedva = int64_t(alignup(resources.size(), pe.sectionalign)) - int64_t(pe.span(home));
    int64_t movedraw = int64_t(newraw) - int64_t(home.rawsize);
    uint32_t relocations = pe.directoryrva(p, RELOCATION_DIRECTORY);
    uint64_t homeend = uint64_t(home.rawptr) + home.rawsize;
    for (size_t i = 0; i < pe.sections.size(); ++i) {
        const section& s = pe.sections[i];
        if (i == index || s.rawsize == 0) continue;
        bool after = i > index;
        if (after ? s.rawptr < homeend : uint64_t(s.rawptr) + s.rawsize > home.rawptr) return PE_BAD_HEADERS;
        // Code and data refer to their sections by address; only the
        // relocations, which only the headers point at, may move.
        if (after && movedva != 0 && s.va != relocations) return PE_FIXED_SECTIONS;
    }
    if (int64_t(p.size()) + movedraw >= int64_t(PROGRAM_LIMIT)) return PE_TOO_LARGE;

    out.assign(p, 0, home.rawptr);
    out += resources;
    out.resize(size_t(home.rawptr + newraw), '\0');
    out.append(p, size_t(homeend), std::string::npos);

    put32(at(out, home.header + 8), uint32_t(resources.size()));
    put32(at(out, home.header + 16), uint32_t(newraw));
    uint64_t imageend = 0;
    for (size_t i = 0; i < pe.sections.size(); ++i) {
        section s = pe.sections[i];
        if (i > index) {
            s.va = uint32_t(s.va + movedva);
            if (s.rawsize > 0) s.rawptr = uint32_t(s.rawptr + movedraw);
            put32(at(out, s.header + 12), s.va);
            put32(at(out, s.header + 20), s.rawptr);
        } else if (i == index) {
            s.vsize = uint32_t(resources.size());
            s.rawsize = uint32_t(newraw);
        }
        imageend = std::max<uint64_t>(imageend, s.va + pe.span(s));
    }
    for (uint32_t d = 0; d < pe.directorycount; ++d) {
        uint32_t rva = pe.directoryrva(p, d);
        if (d != RESOURCE_DIRECTORY && rva > home.va && movedva != 0)
            put32(at(out, pe.directories + 8 * d), uint32_t(rva + movedva));
    }
    put32(at(out, pe.directories + 8 * RESOURCE_DIRECTORY), home.va);
    put32(at(out, pe.directories + 8 * RESOURCE_DIRECTORY + 4), uint32_t(resources.size()));
    put32(at(out, pe.optional + 56), uint32_t(imageend));
    if (home.flags & INITIALIZED_DATA) {
        uint32_t initialised = get32(out, pe.optional + 8);
        put32(at(out, pe.optional + 8), uint32_t(initialised + movedraw));
    }
    uint32_t symbols = get32(out, pe.coff + 8);
    if (symbols >= homeend) put32(at(out, pe.coff + 8), uint32_t(symbols + movedraw));
    if (get32(out, pe.checksumat()) != 0) put32(at(out, pe.checksumat()), pechecksum(out, pe.checksumat()));
    return PE_OK;
}

void listleaves(const resdir& dir, int depth, uint32_t path[MAX_DEPTH], std::vector<resourceleaf>& out)
{
    if (depth >= MAX_DEPTH) return;
    for (const resentry& entry : dir.entries) {
        path[depth] = entry.named ? 0 : entry.id;
        if (entry.dir) {
            listleaves(*entry.dir, depth + 1, path, out);
        } else if (depth == 2) {
            out.push_back({path[0], path[1], path[2], entry.data});
        }
    }
}

} // namespace

const char* peresulttext(int result)
{
    switch (result) {
    case PE_OK: return "rewritten";
    case PE_NOT_PROGRAM: return "not a Windows program";
    case PE_BAD_HEADERS: return "damaged headers or section table";
    case PE_BAD_RESOURCES: return "damaged or oversized resource tree";
    case PE_NO_RESOURCES: return "no resource section and no room for one";
    case PE_FIXED_SECTIONS: return "the resource section cannot grow: a section the code refers to follows it";
    case PE_SIGNED: return "the program is signed: sign the package after packing instead";
    case PE_TOO_LARGE: return "the program would reach 2 GiB";
    default: return "unknown fault";
    }
}

int listresources(const std::string& program, std::vector<resourceleaf>& out)
{
    out.clear();
    peimage pe;
    int result = readheaders(program, pe);
    if (result != PE_OK) return result;
    size_t index = 0;
    if (!findresources(program, pe, index)) return PE_BAD_RESOURCES;
    resdir root;
    result = readtree(program, pe, index, root);
    if (result != PE_OK) return result;
    uint32_t path[MAX_DEPTH] = {0, 0, 0};
    listleaves(root, 0, path, out);
    return PE_OK;
}

int replaceiconimages(const std::string& program, const std::vector<std::string>& images, std::string& out)
{
    out.clear();
    peimage pe;
    int result = readheaders(program, pe);
    if (result != PE_OK) return result;
    if (pe.directoryrva(program, SECURITY_DIRECTORY) != 0 || pe.directorysize(program, SECURITY_DIRECTORY) != 0)
        return PE_SIGNED;
    size_t index = 0;
    if (!findresources(program, pe, index)) return PE_BAD_RESOURCES;
    resdir root;
    result = readtree(program, pe, index, root);
    if (result != PE_OK) return result;
    if (!putimages(root, images)) return PE_BAD_RESOURCES;

    std::string base = program;
    if (index == pe.sections.size() && !addsection(base, pe)) return PE_NO_RESOURCES;
    std::string resources;
    if (!writetree(root, pe.sections[index].va, resources)) return PE_TOO_LARGE;
    result = placesection(base, pe, index, resources, out);
    if (result != PE_OK) out.clear();
    return result;
}

uint32_t pechecksum(const std::string& program, size_t checksumat)
{
    uint64_t sum = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(program.data());
    for (size_t i = 0; i < program.size(); i += 2) {
        if (i == checksumat || i == checksumat + 2) continue;
        uint32_t word = p[i] | (i + 1 < program.size() ? p[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + program.size());
}
