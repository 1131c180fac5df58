// Element records and the paged store that holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Flags word (word 3) of an element record; bits 0-15 hold the level.
constexpr uint32_t REC_LEVEL_MASK = 0x0000FFFFu;
constexpr uint32_t REC_RELEASED = 0x00020000u;
constexpr uint32_t REC_FIRST_CHILD = 0x00080000u;
constexpr uint32_t REC_NO_END_TAG = 0x00100000u;
constexpr uint32_t REC_CONTAINS_ERROR = 0x00200000u;
constexpr uint32_t REC_ILL_FORMED = 0x00800000u;

// Largest tag lengths the packed tag-length word can hold.
constexpr int32_t MAX_START_TAG_LENGTH = 0x3FFFFF;
constexpr int32_t MAX_END_TAG_LENGTH = 0x3FF;

constexpr int32_t STORE_PAGE_RECORDS = 65536;

// One element of the index: eight 32-bit words, offsets in UTF-16 units.
struct elementrecord {
    int32_t startOffset; // offset of the '<' of the start tag
    int32_t totalLength; // start tag through end tag (or the start tag alone)
    uint32_t tagLengths; // bits 0-21 start tag length, bits 22-31 end tag length
    uint32_t flags;      // level in bits 0-15 and the REC_ flags
    int32_t parent;      // enclosing element, 0 at top level
    int32_t firstChild;  // first child element, 0 when none
    int32_t nextSibling; // next element under the same parent, 0 for the last
    int32_t prevSibling; // previous one; for the first child, the last child

    // Length of the start tag, '<' through '>'.
    int32_t startTagLength() const { return static_cast<int32_t>(tagLengths & 0x3FFFFFu); }
    // Length of the end tag, 0 when there is none.
    int32_t endTagLength() const { return static_cast<int32_t>(tagLengths >> 22); }
    // Stores both tag lengths; callers keep them within the MAX_ limits.
    void setTagLengths(int32_t startLength, int32_t endLength)
    {
        tagLengths = (static_cast<uint32_t>(startLength) & 0x3FFFFFu) | (static_cast<uint32_t>(endLength) << 22);
    }
    // Nesting depth modulo 65536 (0 for a top-level element).
    uint32_t level() const { return flags & REC_LEVEL_MASK; }
    // Replaces the level bits, keeping the flag bits.
    void setLevel(uint32_t level) { flags = (flags & ~REC_LEVEL_MASK) | (level & REC_LEVEL_MASK); }
};
static_assert(sizeof(elementrecord) == 32, "an element record is eight 32-bit words");

// Records in pages of 65536; full pages never move when the store grows.
class elementstore {
public:
    elementstore() = default;
    elementstore(const elementstore&) = delete;
    elementstore& operator=(const elementstore&) = delete;

    // Enlarges the store towards n records, at most to the end of the page after the current one.
    void grow(int32_t n);
    // Frees every page and the page array; capacity and pageSlots() become 0.
    void release();
    // Returns the number of entries of the page array.
    int32_t pageSlots() const { return static_cast<int32_t>(pages.size()); }
    // Record i by the page rule (page i >> 16, slot i & 0xFFFF).
    elementrecord& at(int32_t i) { return pages[static_cast<uint32_t>(i) >> 16][i & 0xFFFF]; }
    // Read-only record i.
    const elementrecord& at(int32_t i) const { return pages[static_cast<uint32_t>(i) >> 16][i & 0xFFFF]; }

    std::vector<std::unique_ptr<elementrecord[]>> pages; // page p holds records p * 65536 to p * 65536 + 65535
    int32_t capacity = 0;                                // records allocated
};
