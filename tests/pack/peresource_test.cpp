// The native icon rewrite on programs the test builds itself: a resource
// tree of its own encoding (icon group, icons, manifest, version, a named
// picture), the relocations after or before the resources, with and without
// a checksum, PE32 and PE32+. After the rewrite every other resource is
// still there, the icon identifiers hold the images with the builder's
// filler, and the headers agree with the sections, read back by the test.
#include "peresource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

const uint32_t FILE_ALIGN = 0x200;
const uint32_t SECTION_ALIGN = 0x1000;
const uint32_t HEADERS = 0x400;
const uint32_t PE_AT = 0x80;

void w16(std::string& b, size_t at, uint32_t v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}
void w32(std::string& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xff);
}
uint32_t r32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | (unsigned char)b[at + i];
    return v;
}
uint32_t r16(const std::string& b, size_t at) { return (unsigned char)b[at] | (unsigned char)b[at + 1] << 8; }
uint32_t align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

struct leaf {
    uint32_t type;
    uint32_t id; // 0: named PICTURE
    uint32_t language;
    std::string data;
};
using leafkey = std::tuple<uint32_t, uint32_t, uint32_t>;

// The tree of leaves (type ascending, the named entry before the ids) as a
// resource section at rva: directories, data entries, the name, the data.
std::string encodetree(const std::vector<leaf>& leaves, uint32_t rva)
{
    std::map<uint32_t, std::map<uint32_t, std::map<uint32_t, const leaf*>>> tree;
    for (const leaf& l : leaves) tree[l.type][l.id][l.language] = &l;
    size_t size = 16 + 8 * tree.size();
    for (auto& type : tree) {
        size += 16 + 8 * type.second.size();
        for (auto& name : type.second) size += 16 + 8 * name.second.size();
    }
    size_t entries = size;
    size += 16 * leaves.size();
    const std::u16string picture = u"PICTURE";
    size_t nameat = size;
    size += 2 + 2 * picture.size();
    std::string out(size, '\0');
    size_t nextdir = 16 + 8 * tree.size();
    size_t nextentry = entries;
    w16(out, 14, uint32_t(tree.size()));
    size_t slot = 16;
    for (auto& type : tree) {
        w32(out, slot, type.first);
        w32(out, slot + 4, 0x80000000u | uint32_t(nextdir));
        slot += 8;
        size_t typedir = nextdir;
        nextdir += 16 + 8 * type.second.size();
        bool named = type.second.count(0) != 0;
        w16(out, typedir + 12, named ? 1 : 0);
        w16(out, typedir + 14, uint32_t(type.second.size() - (named ? 1 : 0)));
        size_t nameslot = typedir + 16;
        for (auto& name : type.second) {
            w32(out, nameslot, name.first == 0 ? 0x80000000u | uint32_t(nameat) : name.first);
            w32(out, nameslot + 4, 0x80000000u | uint32_t(nextdir));
            nameslot += 8;
            size_t namedir = nextdir;
            nextdir += 16 + 8 * name.second.size();
            w16(out, namedir + 14, uint32_t(name.second.size()));
            size_t langslot = namedir + 16;
            for (auto& language : name.second) {
                w32(out, langslot, language.first);
                w32(out, langslot + 4, uint32_t(nextentry));
                langslot += 8;
                out.resize(align(uint32_t(out.size()), 8), '\0');
                w32(out, nextentry, rva + uint32_t(out.size()));
                w32(out, nextentry + 4, uint32_t(language.second->data.size()));
                nextentry += 16;
                out += language.second->data;
            }
        }
    }
    w16(out, nameat, uint32_t(picture.size()));
    for (size_t i = 0; i < picture.size(); ++i) w16(out, nameat + 2 + 2 * i, picture[i]);
    return out;
}

// The checksum as the loader's image help computes it.
uint32_t checksumof(const std::string& b, size_t field)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += (unsigned char)b[i] | (i + 1 < b.size() ? (unsigned char)b[i + 1] << 8 : 0);
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return uint32_t(((sum & 0xffff) + (sum >> 16)) + b.size());
}

enum layout { RELOC_AFTER, RSRC_LAST, DATA_AFTER, NO_RSRC };

struct section {
    std::string name;
    uint32_t va;
    std::string bytes;
    uint32_t vsize;
    uint32_t flags;
};

struct program {
    std::string bytes;
    std::vector<leaf> leaves;
    std::string relocations;
    std::string code;
};

program makeprogram(layout kind, bool icongroup, bool checksum, bool plus)
{
    program made;
    made.code = std::string(0x180, '\xc3');
    for (size_t i = 0; i < 0x120; ++i) made.relocations.push_back(char(i * 7));
    if (kind != NO_RSRC) {
        made.leaves.push_back({24, 1, 1033, "<assembly manifestVersion=\"1.0\"/>"});
        made.leaves.push_back({16, 1, 1033, std::string(92, 'v')});
        made.leaves.push_back({10, 0, 0, "picture bytes"});
        made.leaves.push_back({3, 40, 1033, "an icon above the ones written"});
        if (icongroup) {
            made.leaves.push_back({14, 1, 1033, std::string(6 + 14 * 6, 'g')});
            for (uint32_t id = 1; id <= 6; ++id) made.leaves.push_back({3, id, 1033, std::string(40 + id, 'o')});
            made.leaves.push_back({3, 2, 2052, "the same identifier in another language"});
        }
    }
    std::vector<section> sections;
    sections.push_back({".text", 0x1000, made.code, 0x180, 0x60000020});
    uint32_t next = 0x2000;
    auto add = [&](const char* name, const std::string& bytes, uint32_t flags) {
        sections.push_back({name, next, bytes, uint32_t(bytes.size()), flags});
        next += align(uint32_t(bytes.size()), SECTION_ALIGN);
    };
    if (kind == RSRC_LAST || kind == NO_RSRC) add(".reloc", made.relocations, 0x42000040);
    if (kind != NO_RSRC) add(".rsrc", encodetree(made.leaves, next), 0x40000040);
    if (kind == RELOC_AFTER) add(".reloc", made.relocations, 0x42000040);
    if (kind == DATA_AFTER) add(".data", std::string(0x80, 'd'), 0xC0000040);

    std::string& b = made.bytes;
    b.assign(HEADERS, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    w32(b, 0x3c, PE_AT);
    memcpy(&b[PE_AT], "PE\0\0", 4);
    size_t coff = PE_AT + 4;
    w16(b, coff, plus ? 0x8664 : 0x14c);
    w16(b, coff + 2, uint32_t(sections.size()));
    uint32_t optionalsize = plus ? 240 : 224;
    w16(b, coff + 16, optionalsize);
    w16(b, coff + 18, 0x102);
    size_t opt = coff + 20;
    w16(b, opt, plus ? 0x20b : 0x10b);
    w32(b, opt + 16, 0x1000);
    w32(b, opt + 32, SECTION_ALIGN);
    w32(b, opt + 36, FILE_ALIGN);
    w16(b, opt + 68, 2);
    w32(b, opt + 60, HEADERS);
    size_t dirs = opt + (plus ? 112 : 96);
    w32(b, dirs - 4, 16);
    size_t table = opt + optionalsize;
    uint32_t initialised = 0;
    for (size_t i = 0; i < sections.size(); ++i) {
        const section& s = sections[i];
        size_t h = table + 40 * i;
        memcpy(&b[h], s.name.data(), s.name.size());
        w32(b, h + 8, s.vsize);
        w32(b, h + 12, s.va);
        w32(b, h + 16, align(uint32_t(s.bytes.size()), FILE_ALIGN));
        w32(b, h + 20, uint32_t(b.size()));
        w32(b, h + 36, s.flags);
        if (s.flags & 0x40) initialised += align(uint32_t(s.bytes.size()), FILE_ALIGN);
        if (s.name == ".rsrc") {
            w32(b, dirs + 16, s.va);
            w32(b, dirs + 20, s.vsize);
        }
        if (s.name == ".reloc") {
            w32(b, dirs + 40, s.va);
            w32(b, dirs + 44, s.vsize);
        }
        b += s.bytes;
        b.resize(align(uint32_t(b.size()), FILE_ALIGN), '\0');
    }
    w32(b, opt + 8, initialised);
    w32(b, opt + 56, next);
    if (checksum) w32(b, opt + 64, checksumof(b, opt + 64));
    return made;
}

std::vector<std::string> makeimages(size_t count)
{
    std::vector<std::string> images;
    for (size_t i = 0; i < count; ++i) images.push_back(std::string(3000 + 97 * i, char('A' + i)));
    return images;
}

struct RewriteRow {
    const char* name;
    layout kind;
    bool icongroup;
    bool checksum;
    bool plus;
    size_t images;
    int expected;
};

std::ostream& operator<<(std::ostream& os, const RewriteRow& row) { return os << row.name; }

const RewriteRow rewriteRows[] = {
    {"icon_group_one_image", RELOC_AFTER, true, true, false, 1, PE_OK},
    {"icon_group_ten_images", RELOC_AFTER, true, true, false, 10, PE_OK},
    {"icon_group_twelve_images", RELOC_AFTER, true, true, false, 12, PE_OK},
    {"resources_last", RSRC_LAST, true, true, false, 12, PE_OK},
    {"no_icon_group", RELOC_AFTER, false, true, false, 6, PE_OK},
    {"no_resource_section", NO_RSRC, false, true, false, 6, PE_OK},
    {"no_checksum", RELOC_AFTER, true, false, false, 6, PE_OK},
    {"pe32plus", RELOC_AFTER, true, true, true, 12, PE_OK},
    {"data_section_after_the_resources", DATA_AFTER, true, true, false, 12, PE_FIXED_SECTIONS},
};

struct readsection {
    std::string name;
    uint32_t vsize, va, rawsize, rawptr;
};

class Rewrite : public testing::TestWithParam<RewriteRow> {};

TEST_P(Rewrite, ResourcesAndHeadersAsExpected)
{
    const RewriteRow& row = GetParam();
    program before = makeprogram(row.kind, row.icongroup, row.checksum, row.plus);
    std::vector<std::string> images = makeimages(row.images);
    std::string after;
    ASSERT_EQ(replaceiconimages(before.bytes, images, after), row.expected);
    if (row.expected != PE_OK) {
        EXPECT_TRUE(after.empty());
        return;
    }

    // Resources: the old ones, the written identifiers replaced or added.
    std::map<leafkey, std::string> expected;
    for (const leaf& l : before.leaves) expected[leafkey(l.type, l.id, l.language)] = l.data;
    uint32_t highest = row.images > 10 ? uint32_t(2 * row.images - 10) : 10;
    for (uint32_t id = 1; id <= highest; ++id)
        expected[leafkey(3, id, 1033)] = id <= row.images ? images[id - 1] : images.back();
    std::vector<resourceleaf> listed;
    ASSERT_EQ(listresources(after, listed), PE_OK);
    std::map<leafkey, std::string> got;
    for (const resourceleaf& l : listed) got[leafkey(l.type, l.id, l.language)] = l.data;
    EXPECT_EQ(got.size(), expected.size());
    for (const auto& e : expected) {
        auto found = got.find(e.first);
        ASSERT_NE(found, got.end()) << "type " << std::get<0>(e.first) << " id " << std::get<1>(e.first);
        EXPECT_TRUE(found->second == e.second) << "type " << std::get<0>(e.first) << " id " << std::get<1>(e.first);
    }

    // Headers read back: sections in order and apart, the directories on
    // their sections, the image size, the checksum.
    size_t coff = PE_AT + 4;
    size_t opt = coff + 20;
    size_t dirs = opt + (row.plus ? 112 : 96);
    size_t table = opt + r16(after, coff + 16);
    std::vector<readsection> sections;
    for (uint32_t i = 0; i < r16(after, coff + 2); ++i) {
        size_t h = table + 40 * i;
        sections.push_back({std::string(after.data() + h, strnlen(after.data() + h, 8)), r32(after, h + 8),
                            r32(after, h + 12), r32(after, h + 16), r32(after, h + 20)});
    }
    uint32_t end = 0;
    uint32_t fileend = HEADERS;
    for (const readsection& s : sections) {
        EXPECT_GE(s.va, end) << s.name;
        EXPECT_EQ(s.rawptr, fileend) << s.name;
        end = s.va + align(s.vsize, SECTION_ALIGN);
        fileend = s.rawptr + s.rawsize;
        if (s.name == ".rsrc") {
            EXPECT_EQ(r32(after, dirs + 16), s.va);
            EXPECT_EQ(r32(after, dirs + 20), s.vsize);
        }
        if (s.name == ".reloc") {
            EXPECT_EQ(r32(after, dirs + 40), s.va);
            EXPECT_TRUE(after.compare(s.rawptr, before.relocations.size(), before.relocations) == 0);
        }
        if (s.name == ".text") {
            EXPECT_TRUE(after.compare(s.rawptr, before.code.size(), before.code) == 0);
        }
    }
    EXPECT_EQ(after.size(), fileend);
    EXPECT_EQ(r32(after, opt + 56), end);
    EXPECT_EQ(r32(after, opt + 64), row.checksum ? checksumof(after, opt + 64) : 0u);
    EXPECT_EQ(pechecksum(after, opt + 64), checksumof(after, opt + 64));
}

INSTANTIATE_TEST_SUITE_P(Pack, Rewrite, testing::ValuesIn(rewriteRows),
                         [](const testing::TestParamInfo<RewriteRow>& info) { return std::string(info.param.name); });

// Damaged programs: one change each to the program of the first row.
struct DamageRow {
    const char* name;
    size_t at;      // offset changed
    uint32_t value; // written as 32 bits
    size_t keep;    // bytes kept; 0: all
    int expected;
};

std::ostream& operator<<(std::ostream& os, const DamageRow& row) { return os << row.name; }

// The .rsrc section of a RELOC_AFTER program starts at 0x600 in the file.
const DamageRow damageRows[] = {
    {"no_mz", 0, 0x4D58, 0, PE_NOT_PROGRAM},
    {"pe_header_past_the_end", 0x3c, 0x7fffffff, 0, PE_NOT_PROGRAM},
    {"cut_inside_a_section", 0, 0x5A4D, 0x700, PE_BAD_HEADERS},
    {"file_alignment_not_a_power_of_two", PE_AT + 24 + 36, 0x300, 0, PE_BAD_HEADERS},
    {"type_directory_outside_the_section", 0x600 + 16 + 4, 0x80000000u | 0x7ffff0, 0, PE_BAD_RESOURCES},
    {"data_entry_outside_the_section", 0x600 + 16 + 4, 0x7ffff0, 0, PE_BAD_RESOURCES},
    {"entry_count_past_the_section", 0x600 + 12, 0xffffffffu, 0, PE_BAD_RESOURCES},
    {"signed", PE_AT + 24 + 96 + 8 * 4, 0x1000, 0, PE_SIGNED},
};

class DamagedProgram : public testing::TestWithParam<DamageRow> {};

TEST_P(DamagedProgram, LeftAlone)
{
    const DamageRow& row = GetParam();
    std::string bytes = makeprogram(RELOC_AFTER, true, true, false).bytes;
    ASSERT_EQ(bytes.compare(0x600, 4, std::string("\0\0\0\0", 4)), 0) << "the resource section moved";
    if (row.keep) bytes.resize(row.keep);
    w32(bytes, row.at, row.value);
    std::string after = "not cleared";
    EXPECT_EQ(replaceiconimages(bytes, makeimages(6), after), row.expected);
    EXPECT_TRUE(after.empty());
}

INSTANTIATE_TEST_SUITE_P(Pack, DamagedProgram, testing::ValuesIn(damageRows),
                         [](const testing::TestParamInfo<DamageRow>& info) { return std::string(info.param.name); });

} // namespace
