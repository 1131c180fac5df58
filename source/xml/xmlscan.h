// The node scanner and token functions over UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Node kinds; also the values of xmldoc::nodeKind.
constexpr int32_t KIND_END_TAG = 0;
constexpr int32_t KIND_ELEMENT = 1;
constexpr int32_t KIND_TEXT = 2;
constexpr int32_t KIND_WHITESPACE = 4;
constexpr int32_t KIND_CDATA = 8;
constexpr int32_t KIND_PI = 16;
constexpr int32_t KIND_COMMENT = 32;
constexpr int32_t KIND_DOCTYPE = 64;
constexpr int32_t KIND_ERROR = -1;
constexpr int32_t KIND_END = -2;

// Document flag: names compare ignoring ASCII case.
constexpr uint32_t DOC_IGNORE_CASE = 0x0008u;
// Cursor flag: the last attribute token was a quoted value.
constexpr uint32_t QUOTED_TOKEN = 0x8000u;
// Cursor flag: locateAttribute found the attribute's value (else its name alone).
constexpr uint32_t VALUE_TOKEN = 0x4000u;
// Token flag: a start tag closed by "/>".
constexpr uint32_t EMPTY_ELEMENT_TAG = 0x10000u;

// Unit classes; every test looks at a single UTF-16 unit.
namespace unitclass {
// TAB, LF, CR or SP.
inline bool isWhitespace(char16_t u) { return u == 9 || u == 10 || u == 13 || u == 32; }
// Whitespace, '/' or '>': ends a tag name.
inline bool isTagNameEnd(char16_t u) { return isWhitespace(u) || u == u'/' || u == u'>'; }
// Ends a word of nextWord (the 0 unit is checked separately).
bool isWordEnd(char16_t u);
// 0, SP, '/', '=', '[' or ']': may follow a name that matched.
bool isNameBoundary(char16_t u);
// A unit that may begin a start-tag name: 'A'-'Z', '_', ':' and everything above 0x60.
inline bool isNameStart(char16_t u) { return (u >= u'A' && u <= u'Z') || u == u'_' || u == u':' || u > 0x60; }
} // namespace unitclass

// Compares count units of a and b; returns 0 when equal, else the deciding difference.
int compareNames(const char16_t* a, const char16_t* b, int32_t count, bool ignoreCase);

// Statuses of a scanerror: a tag the scanner could not read as markup.
constexpr int32_t SCAN_FIRST_TAG_SYNTAX = 1;       // '<' followed by a unit no tag begins with
constexpr int32_t SCAN_EXCLAMATION_TAG_SYNTAX = 2; // "<!" followed by none of '-', '[' or 'D'
constexpr int32_t SCAN_COMMENT_TAG_SYNTAX = 3;     // "<!-" not followed by '-'
constexpr int32_t SCAN_CDATA_SECTION_SYNTAX = 4;   // "<![" not followed by 'C'
constexpr int32_t SCAN_DOCTYPE_TAG_SYNTAX = 5;     // in a document type declaration, "<!" then none of "-AEN"
// Statuses of a scanerror: the text ended inside a construct, named by what it was read as.
constexpr int32_t SCAN_UNTERMINATED_TAG = 6;
constexpr int32_t SCAN_UNTERMINATED_START_TAG = 7;
constexpr int32_t SCAN_UNTERMINATED_END_TAG = 8;
constexpr int32_t SCAN_UNTERMINATED_PI = 9;
constexpr int32_t SCAN_UNTERMINATED_COMMENT = 10;
constexpr int32_t SCAN_UNTERMINATED_CDATA = 11;
constexpr int32_t SCAN_UNTERMINATED_DOCTYPE = 12;

// Faults kept per list. Every fault reads as a record of more than one unit, so once this many are kept the
// record text has reached its limit and later faults could never show.
constexpr size_t ERROR_LIMIT = 1000;

// A fault the scanner found, as data: what it was and where the tag at fault begins.
struct scanerror {
    int32_t status; // SCAN_ status (the parser adds PARSE_ statuses of its own)
    int32_t offset; // offset of the tag's '<'; -1 for a fault of the whole document
};

// Scanner state over a 0-terminated text; offsets count UTF-16 units.
struct tokencursor {
    int32_t tokenStart = 0;         // first unit of the last word or name
    int32_t tokenEnd = -1;          // its last unit (tokenStart - 1 when empty)
    int32_t next = 0;               // where scanning continues
    const char16_t* text = nullptr; // the text, terminated by a 0 unit
    uint32_t flags = 0;             // DOC_IGNORE_CASE, QUOTED_TOKEN, VALUE_TOKEN
    int32_t gapStart = 0;           // start of the whitespace before the last attribute token
    int32_t gapLength = 0;          // its length

    // Skips whitespace at next; returns whether a unit other than 0 follows.
    bool skipWhitespace();
    // Reads the next word (or one delimiter unit) into tokenStart..tokenEnd; false at the end of the text.
    bool nextWord();
    // Returns whether the last token equals the 0-terminated name followed by a name boundary.
    bool tokenEquals(const char16_t* name) const;
    // Returns the units tokenStart..tokenEnd.
    std::u16string tokenText() const;
    // Finds an attribute of the start tag whose name begins at next; limit (-1: none) is the offset of the
    // tag's closing unit, past which the scan never reads. Returns whether the attribute was found.
    bool locateAttribute(const char16_t* name, int32_t ordinal, std::u16string* outName, int32_t limit = -1);
};

// One scanned node.
struct nodetoken {
    int32_t kind = KIND_END;     // KIND_ value of the node
    int32_t start = 0;           // offset of its first unit
    int32_t length = 0;          // its length in units
    uint32_t flags = 0;          // EMPTY_ELEMENT_TAG
    std::vector<scanerror> held; // faults met while scanning, held until an error node takes them
};

// Scans the node at cursor.next, fills token and moves next past it; returns the node kind.
int32_t scanNode(tokencursor& cursor, nodetoken& token);
