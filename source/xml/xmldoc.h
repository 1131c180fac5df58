// An XML document: one UTF-16 text plus a paged index of its elements, edited in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "elementstore.h"
#include "xmlescape.h"
#include "xmlscan.h"

// Kinds of a search path.
constexpr int32_t PATH_INVALID = -1;
constexpr int32_t PATH_NONE = 0;
constexpr int32_t PATH_RELATIVE = 1;
constexpr int32_t PATH_ABSOLUTE = 2;
constexpr int32_t PATH_ANYWHERE = 3;

// A search path, validated on construction.
struct pathcursor {
    int32_t kind = PATH_NONE;           // PATH_ kind, PATH_INVALID when the path does not parse
    const char16_t* pathText = nullptr; // the path, 0-terminated
    int32_t pos = 0;                    // offset of the first step once validated
    int32_t stepStart = 0;              // offset of the first step, after leading slashes

    // Validates path (null or 0-terminated); kind is PATH_INVALID when it does not parse.
    explicit pathcursor(const char16_t* path);
};

// Statuses of a parsefault beyond the scanner's SCAN_ statuses: nesting faults the parser repaired.
constexpr int32_t PARSE_UNENDED_START_TAG = 13; // a start tag closed by the end of an enclosing element or text
constexpr int32_t PARSE_LONE_END_TAG = 14;      // an end tag that matches no open element
constexpr int32_t PARSE_ROOT_HAS_SIBLING = 15;  // more than one top-level element
constexpr int32_t PARSE_NO_ROOT_ELEMENT = 16;   // a text without any element

// One fault of a parse, as data.
struct parsefault {
    scanerror error;    // SCAN_ or PARSE_ status and the offset of the tag at fault
    int32_t offset2;    // where an unended start tag was closed; -1 otherwise
    int32_t nameStart;  // the element name of an unended or lone tag: units nameStart.. of parseresult::names
    int32_t nameLength; // its length; 0 for a fault without a name
    int32_t group;      // faults one error node brought at once: their count on the first, 0 on the rest
};

// The faults of one parse, in the order they were met; the file layer writes them as result records.
struct parseresult {
    std::vector<parsefault> faults; // at most ERROR_LIMIT, plus the rest of a group that began below it
    std::u16string names;           // the names the faults carry, copied so that later edits leave them as read

    // Forgets every fault.
    void clear();
    // Adds one fault unless ERROR_LIMIT faults are kept already; name may be empty.
    void add(int32_t status, int32_t offset, int32_t offset2, std::u16string_view name);
    // Adds the faults an error node held as one group, unless ERROR_LIMIT faults are kept already.
    void addHeld(const std::vector<scanerror>& held);
};

class xmldoc {
public:
    // An empty document with no records; setText or loadFile must run before navigation.
    xmldoc();
    // A document holding text (null: empty), indexed.
    explicit xmldoc(const char16_t* text);
    xmldoc(const xmldoc&) = delete;
    xmldoc& operator=(const xmldoc&) = delete;

    // Replaces the document by a copy of text (null: empty, releasing the store); returns isSound().
    bool setText(const char16_t* text);
    // Replaces the document by text, which may hold any units; returns isSound().
    bool setText(std::u16string_view text);

    // Record i; record 0 describes the whole text.
    elementrecord& record(int32_t i) { return elements->at(i); }
    // Read-only record i.
    const elementrecord& record(int32_t i) const { return elements->at(i); }

    // Replaces removeLength units at offset by insertion, reserving room for further growth.
    void replaceText(int32_t offset, int32_t removeLength, std::u16string_view insertion);
    // Links record r under parent after record after (0: as first child) and sets its level.
    void linkRecord(int32_t parent, int32_t after, int32_t r);
    // Moves every record after an edit at or inside r by delta and lengthens every enclosing record.
    void shiftFollowing(int32_t r, int32_t delta, bool skipOwnChildren);
    // Hands out the next record index, growing the store by half when it is full.
    int32_t handOutRecord();

    // Indexes all elements from cursor.next to the end as descendants of root; returns the first
    // record created, or 0.
    int32_t indexElements(int32_t root, tokencursor& cursor);
    // Resets positions and index, parses the whole text and adds document-level records; returns isSound().
    bool rebuildIndex();
    // Returns whether the text is well formed: one root element and no fault found.
    bool isSound() const;

    // Reads a file into the document and indexes it; returns the soundness verdict (file I/O).
    bool loadFile(const char16_t* path);
    // Writes the text to a file in the document's encoding; returns success (file I/O).
    bool saveFile(const char16_t* path);
    // Returns the result records of the last parse, load or save: the file's records, then the parse faults,
    // written as text by the file layer.
    std::u16string resultText() const;

    // Moves currentIndex to the next element of the current level matching path; returns whether found.
    bool findNext(const char16_t* path);
    // Moves childIndex to the next child of the current element matching path; returns whether found.
    bool findNextChild(const char16_t* path);
    // Returns the first child of parent after after (0: from the first) matching path, or 0.
    int32_t scanChildren(int32_t parent, int32_t after, const char16_t* path) const;
    // Returns the name of element index as its start tag spells it (empty for 0).
    std::u16string tagName(int32_t index) const;
    // Creates an element (ADD_ flags) and makes it current or the current child; returns false when refused.
    bool insertElement(std::u16string_view name, std::u16string_view value, int32_t flags);
    // Sets attribute name of element index to the escaped value; returns false when refused.
    bool putAttribute(int32_t index, std::u16string_view name, std::u16string_view value, int32_t flags);
    // putAttribute on currentIndex with number in decimal; returns its result.
    bool putAttributeNumber(std::u16string_view name, int32_t number, int32_t flags);

    std::u16string text;                    // the document, the only copy of it
    parseresult parsed;                     // faults of the last parse; emptied by each rebuild, load and save
    std::u16string fileResults;             // result records of the last load or save; emptied by setText
    int32_t parentIndex = 0;                // parent of the current element (0: top level)
    int32_t currentIndex = 0;               // current element (0: before the first of its level)
    int32_t childIndex = 0;                 // current child of the current element (0: before the first)
    int32_t nextFreeRecord = 0;             // next record index to hand out
    int32_t nodeKind = 0;                   // KIND_ELEMENT when currentIndex is set, else 0
    uint32_t docFlags = 0;                  // DOC_ flags, including the byte-order-mark bits of a load
    std::unique_ptr<elementstore> elements; // the paged record store

private:
    struct splice {
        int32_t offset;
        int32_t after;
        int32_t removed;
        int32_t inserted;
    };
    splice spliceText(int32_t parent, int32_t reference, std::u16string markup, int32_t flags);
    void zeroPositions();
    std::u16string endTagName(int32_t index) const;
    bool validRecord(int32_t index) const { return index > 0 && index < nextFreeRecord; }
};
