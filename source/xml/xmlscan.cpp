#include "xmlscan.h"

namespace unitclass {
bool isWordEnd(char16_t u)
{
    switch (u) {
    case 9:
    case 10:
    case 13:
    case 32:
    case u'!':
    case u'"':
    case u'\'':
    case u'/':
    case u';':
    case u'<':
    case u'=':
    case u'>':
    case u'?':
    case u'\\': return true;
    default: return false;
    }
}

bool isNameBoundary(char16_t u) { return u == 0 || u == 32 || u == u'/' || u == u'=' || u == u'[' || u == u']'; }
} // namespace unitclass

using namespace unitclass;

int compareNames(const char16_t* a, const char16_t* b, int32_t count, bool ignoreCase)
{
    bool exact = !ignoreCase;
    for (int32_t i = 0; i < count; ++i) {
        int ua = static_cast<uint16_t>(a[i]);
        int ub = static_cast<uint16_t>(b[i]);
        if (ua == ub) {
            if (ua > 0x7F) exact = true;
            continue;
        }
        if (exact) return ua - ub;
        if (ua >= 'a' && ua <= 'z') ua -= 32;
        if (ub >= 'a' && ub <= 'z') ub -= 32;
        if (ua != ub) return ua - ub;
    }
    return 0;
}

bool tokencursor::skipWhitespace()
{
    while (isWhitespace(text[next])) ++next;
    tokenStart = next;
    tokenEnd = next - 1;
    return text[next] != 0;
}

bool tokencursor::nextWord()
{
    if (!skipWhitespace()) return false;
    while (text[next] != 0 && !isWordEnd(text[next])) ++next;
    if (next == tokenStart) ++next;
    tokenEnd = next - 1;
    return true;
}

bool tokencursor::tokenEquals(const char16_t* name) const
{
    int32_t n = tokenEnd - tokenStart + 1;
    if (n < 0) return false;
    for (int32_t i = 0; i < n; ++i)
        if (name[i] == 0) return false; // the token has no 0 unit, so a shorter name cannot match
    return compareNames(text + tokenStart, name, n, (flags & DOC_IGNORE_CASE) != 0) == 0 && isNameBoundary(name[n]);
}

std::u16string tokencursor::tokenText() const
{
    if (tokenEnd < tokenStart) return std::u16string();
    return std::u16string(text + tokenStart, static_cast<size_t>(tokenEnd - tokenStart + 1));
}

namespace {

// The tokens of one start tag, read for tokencursor::locateAttribute: the whitespace before each (the
// gap), then a quoted value or a word.
class attributescan {
public:
    attributescan(tokencursor& cursor, int32_t limit) : c(cursor), t(cursor.text), limit(limit) {}

    // Skips the whitespace at next, keeping it as the gap before the next token; returns whether a token
    // follows before the end of the text or the tag's limit.
    bool skipGap()
    {
        c.gapStart = c.next;
        while (!atEnd(c.next) && isWhitespace(t[c.next])) ++c.next;
        c.gapLength = c.next - c.gapStart;
        return !atEnd(c.next);
    }

    // Reads the token at next into tokenStart..tokenEnd and moves next past it: a value quoted with ' or "
    // (to its closing quote, without the quotes), or a word up to whitespace or '>' (in a value's
    // position) or also '/' and '=' (elsewhere), or a lone delimiter. Returns whether it was quoted.
    bool readToken(bool valuePosition)
    {
        const int32_t ts = c.next;
        const char16_t u = t[ts];
        if (u == u'"' || u == u'\'') {
            int32_t p = ts + 1;
            while (!atEnd(p) && t[p] != u) ++p;
            c.tokenStart = ts + 1;
            c.tokenEnd = p - 1;
            c.next = atEnd(p) ? p : p + 1;
            return true;
        }
        int32_t p = ts;
        while (!atEnd(p) && !isWhitespace(t[p]) && t[p] != u'>' && (valuePosition || (t[p] != u'/' && t[p] != u'=')))
            ++p;
        if (p == ts) ++p;
        c.tokenStart = ts;
        c.tokenEnd = p - 1;
        c.next = p;
        return false;
    }

    // Hands out the empty value right after the '=' that ends at equalsEnd; true.
    bool emptyValue(int32_t equalsEnd)
    {
        c.tokenStart = equalsEnd;
        c.tokenEnd = equalsEnd - 1;
        c.next = equalsEnd;
        c.flags |= VALUE_TOKEN;
        return true;
    }

    // Remembers the token just read as the attribute's name, for when no value follows.
    void keepName()
    {
        wanted = true;
        nameStart = c.tokenStart;
        nameEnd = c.tokenEnd;
        nameNext = c.next;
    }

    // Hands out the name keepName kept; true.
    bool giveName()
    {
        c.tokenStart = nameStart;
        c.tokenEnd = nameEnd;
        c.next = nameNext;
        return true;
    }

    bool wanted = false; // the attribute was found: its value, or its name alone, is handed out next

private:
    bool atEnd(int32_t p) const { return t[p] == 0 || (limit >= 0 && p >= limit); }

    tokencursor& c;
    const char16_t* const t;
    const int32_t limit;
    int32_t nameStart = 0;
    int32_t nameEnd = -1;
    int32_t nameNext = 0;
};

} // namespace

bool tokencursor::locateAttribute(const char16_t* name, int32_t ordinal, std::u16string* outName, int32_t limit)
{
    attributescan scan(*this, limit);
    flags &= ~(QUOTED_TOKEN | VALUE_TOKEN);
    int32_t ord = -1; // -1 until the tag's name is passed
    bool expectValue = false;
    int32_t equalsEnd = next;
    for (;;) {
        if (!scan.skipGap()) {
            if (scan.wanted && expectValue) return scan.emptyValue(equalsEnd);
            next = gapStart;
            return scan.wanted && scan.giveName();
        }
        const char16_t u = text[next];
        const int32_t ts = next;
        const bool quoted = scan.readToken(expectValue);

        if (expectValue) {
            expectValue = false;
            // A value position holding only the tag's close ("name=>" or "name= />") has an empty value
            // right after the '=': the close stays where it is.
            bool closes = !quoted && (u == u'>' || (u == u'/' && gapLength > 0 && text[ts + 1] == u'>'));
            if (closes) {
                if (scan.wanted) return scan.emptyValue(equalsEnd);
                next = gapStart;
                return false;
            }
            if (!scan.wanted) continue;
            flags |= VALUE_TOKEN;
            if (quoted) flags |= QUOTED_TOKEN;
            return true;
        }
        if (quoted) {
            if (scan.wanted) return scan.giveName();
            continue;
        }
        if (u == u'=') {
            expectValue = true;
            equalsEnd = next;
            continue;
        }
        if (u == u'>' || u == u'/' || u == u'?') {
            next = gapStart;
            return scan.wanted && scan.giveName();
        }
        if (scan.wanted) return scan.giveName();
        if (ord == -1) {
            ord = 0;
            continue;
        }
        bool match = name ? tokenEquals(name) : (ord == ordinal);
        ++ord;
        if (!match) continue;
        if (!name) {
            if (!outName) return true;
            *outName = tokenText();
        }
        scan.keepName();
    }
}

namespace {

enum class attrstate { none, expect, quoted, unquoted };

// One construct that begins with '<'.
struct construct {
    int32_t kind = KIND_ERROR;
    int32_t end = -1; // offset after the construct; -1 when the text ended inside it
    int32_t stop = 0; // where the scan stopped when the text ended
    int32_t unterminatedStatus = SCAN_UNTERMINATED_TAG;
    uint32_t flags = 0;
    int32_t nameStart = 0;
    int32_t nameEnd = 0;
    bool doctypeOpen = false; // "<!D" outside a declaration: the caller scans the declaration
};

void hold(std::vector<scanerror>& held, int32_t status, int32_t offset)
{
    if (held.size() < ERROR_LIMIT) held.push_back({status, offset});
}

// What the opening of a tag says about the rest of it.
struct tagshape {
    int delimLength = 1;            // units of the delimiter that ends the tag, its '>' included
    char16_t d1 = 0, d2 = 0;        // units that must precede '>' for a longer delimiter
    bool attributes = false;        // read as attributes: a quoted value may hold '>'
    bool declarationQuotes = false; // a markup declaration: a quoted literal may hold '>'
    int32_t nameEnd = -1;           // the unit after the tag's name, when it has one
};

// The construct ends with the text, at unit at: the scan stops there. False.
bool unterminatedAt(construct& c, int32_t at)
{
    c.end = -1;
    c.stop = at;
    return false;
}

// Reads the name of a tag from unit from; returns the unit after it.
int32_t readTagName(const char16_t* t, int32_t from, construct& c, tagshape& shape)
{
    int32_t q = from;
    while (t[q] != 0 && !isTagNameEnd(t[q])) ++q;
    c.nameStart = from;
    c.nameEnd = q;
    shape.nameEnd = q;
    return q;
}

// A tag that begins like no construct: a fault, whose rest is read as attributes. True.
bool faultyTag(std::vector<scanerror>& held, int32_t status, int32_t s, tagshape& shape)
{
    hold(held, status, s);
    shape.attributes = true;
    return true;
}

// A comment or a CDATA section (kind, status when unterminated), ended by d d '>'. Moves p past its
// opening; true.
bool openSection(construct& c, int32_t kind, int32_t status, char16_t d, tagshape& shape, int32_t& p)
{
    c.kind = kind;
    c.unterminatedStatus = status;
    shape.delimLength = 3;
    shape.d1 = shape.d2 = d;
    ++p;
    return true;
}

// After "<!" (p on the '!'): a comment, a CDATA section, a document type declaration (outside one) or a
// markup declaration (inside one); anything else is a fault read as attributes. Moves p past what
// decided it; false when the construct is complete already.
bool openDeclaration(const char16_t* t, int32_t s, bool inDoctype, std::vector<scanerror>& held, construct& c,
                     tagshape& shape, int32_t& p)
{
    char16_t u = t[++p];
    if (u == 0) return unterminatedAt(c, p);
    if (u == u'-') {
        u = t[++p];
        if (u == 0) return unterminatedAt(c, p);
        if (u != u'-') return faultyTag(held, SCAN_COMMENT_TAG_SYNTAX, s, shape);
        return openSection(c, KIND_COMMENT, SCAN_UNTERMINATED_COMMENT, u'-', shape, p);
    }
    if (inDoctype) {
        if (u != u'A' && u != u'E' && u != u'N') return faultyTag(held, SCAN_DOCTYPE_TAG_SYNTAX, s, shape);
        c.kind = KIND_DOCTYPE;
        c.unterminatedStatus = SCAN_UNTERMINATED_DOCTYPE;
        shape.declarationQuotes = true;
        ++p;
        return true;
    }
    if (u == u'D') {
        // The caller scans the declaration, with the markup declarations inside it.
        c.kind = KIND_DOCTYPE;
        c.doctypeOpen = true;
        c.end = p + 1;
        return false;
    }
    if (u != u'[') return faultyTag(held, SCAN_EXCLAMATION_TAG_SYNTAX, s, shape);
    u = t[++p];
    if (u == 0) return unterminatedAt(c, p);
    if (u != u'C') return faultyTag(held, SCAN_CDATA_SECTION_SYNTAX, s, shape);
    return openSection(c, KIND_CDATA, SCAN_UNTERMINATED_CDATA, u']', shape, p);
}

// Reads what follows the '<' at s far enough to know the construct: its kind, its name and how it ends.
// Leaves p where the scan for its end goes on; false when the construct is complete already.
bool openTag(const char16_t* t, int32_t s, bool inDoctype, std::vector<scanerror>& held, construct& c, tagshape& shape,
             int32_t& p)
{
    p = s + 1;
    const char16_t u = t[p];
    if (u == 0) return unterminatedAt(c, p);
    if (isNameStart(u)) {
        c.kind = KIND_ELEMENT;
        c.unterminatedStatus = SCAN_UNTERMINATED_START_TAG;
        shape.attributes = true;
        p = readTagName(t, p, c, shape);
    } else if (u == u'/') {
        c.kind = KIND_END_TAG;
        c.unterminatedStatus = SCAN_UNTERMINATED_END_TAG;
        p = readTagName(t, p + 1, c, shape);
    } else if (u == u'?') {
        c.kind = KIND_PI;
        c.unterminatedStatus = SCAN_UNTERMINATED_PI;
        shape.delimLength = 2;
        shape.d2 = u'?';
        p = readTagName(t, p + 1, c, shape);
    } else if (u == u'!') {
        return openDeclaration(t, s, inDoctype, held, c, shape, p);
    } else {
        return faultyTag(held, SCAN_FIRST_TAG_SYNTAX, s, shape);
    }
    return true;
}

// Follows the quoting of attribute values by the unit u at t[p].
void stepAttributes(attrstate& state, char16_t& quote, const char16_t* t, int32_t p, char16_t u)
{
    switch (state) {
    case attrstate::quoted:
        if (u == quote) state = attrstate::none;
        break;
    case attrstate::unquoted:
        if (isWhitespace(u)) state = attrstate::none;
        break;
    case attrstate::expect:
        if (isWhitespace(u)) break;
        if (u == u'"' || u == u'\'') {
            state = attrstate::quoted;
            quote = u;
        } else if (!(u == u'=' && t[p - 1] != u'=')) {
            state = attrstate::unquoted;
        }
        break;
    case attrstate::none:
        if (u == u'=' && t[p - 1] != u'=') state = attrstate::expect;
        break;
    }
}

// Follows the quoting of a markup declaration's literals by one unit u.
void stepLiterals(attrstate& state, char16_t& quote, char16_t u)
{
    if (state == attrstate::quoted) {
        if (u == quote) state = attrstate::none;
    } else if (u == u'"' || u == u'\'') {
        state = attrstate::quoted;
        quote = u;
    }
}

// At a '>' outside quotes (p): true, with the construct's end, when it ends the tag, that is when the
// delimiter's other units precede it. unquotedOpen: an unquoted attribute value ran up to it.
bool endsTag(const char16_t* t, int32_t s, int32_t p, const tagshape& shape, bool unquotedOpen, construct& c)
{
    if (shape.delimLength == 1) {
        c.end = p + 1;
        if (c.kind == KIND_ELEMENT && t[p - 1] == u'/' &&
            (p - 1 == shape.nameEnd || !unquotedOpen || isWhitespace(t[p - 2]) || t[p - 2] == u'"' ||
             t[p - 2] == u'\''))
            c.flags |= EMPTY_ELEMENT_TAG;
        return true;
    }
    if (p - s > shape.delimLength && t[p - 1] == shape.d2 && (shape.delimLength == 2 || t[p - 2] == shape.d1)) {
        c.end = p + 1;
        return true;
    }
    return false;
}

// Scans from p for the end of the construct that begins at s: the '>' of its delimiter outside quotes,
// for a fault the next '<', or the end of the text.
void closeTag(const char16_t* t, int32_t s, int32_t p, const tagshape& shape, construct& c)
{
    attrstate state = attrstate::none;
    char16_t quote = 0;
    const bool attributes = shape.attributes;
    const bool literals = shape.declarationQuotes;
    const bool error = c.kind == KIND_ERROR;
    for (;; ++p) {
        const char16_t u = t[p];
        if (u == 0) {
            unterminatedAt(c, p);
            return;
        }
        if (u == u'<' && error) {
            c.end = p;
            return;
        }
        if (u == u'>' && state != attrstate::quoted) {
            const bool unquotedOpen = state == attrstate::unquoted;
            state = attrstate::none;
            if (endsTag(t, s, p, shape, unquotedOpen, c)) return;
            continue;
        }
        if (attributes)
            stepAttributes(state, quote, t, p, u);
        else if (literals)
            stepLiterals(state, quote, u);
    }
}

// Scans the construct that begins with the '<' at s.
construct scanTag(const char16_t* t, int32_t s, bool inDoctype, std::vector<scanerror>& held)
{
    construct c;
    tagshape shape;
    int32_t p = s;
    if (openTag(t, s, inDoctype, held, c, shape, p)) closeTag(t, s, p, shape, c);
    return c;
}

} // namespace

int32_t scanNode(tokencursor& cursor, nodetoken& token)
{
    const char16_t* t = cursor.text;
    const int32_t s = cursor.next;
    token.start = s;
    token.flags = 0;
    int32_t kind;
    int32_t p = s;
    char16_t u = t[s];
    if (u == 0) {
        kind = KIND_END;
    } else if (u != u'<') {
        while (isWhitespace(t[p])) ++p;
        if (t[p] == 0 || t[p] == u'<') {
            kind = KIND_WHITESPACE;
        } else {
            kind = KIND_TEXT;
            for (;;) {
                u = t[p];
                if (u == 0 || u == u'<') break;
                ++p;
                if (u == u'>' && p - 1 != s) break;
            }
        }
    } else {
        construct c = scanTag(t, s, false, token.held);
        if (c.doctypeOpen) {
            p = c.end;
            kind = KIND_DOCTYPE;
            for (;;) {
                u = t[p];
                if (u == 0) {
                    hold(token.held, SCAN_UNTERMINATED_DOCTYPE, s);
                    kind = KIND_ERROR;
                    break;
                }
                if (u == u'>') {
                    ++p;
                    break;
                }
                if (u == u'<') {
                    construct nested = scanTag(t, p, true, token.held);
                    if (nested.end < 0) {
                        p = nested.stop;
                        continue; // lands on the 0 unit and reports the declaration as unterminated
                    }
                    p = nested.end;
                    continue;
                }
                ++p;
            }
        } else if (c.end < 0) {
            hold(token.held, c.unterminatedStatus, s);
            kind = KIND_ERROR;
            p = c.stop;
        } else {
            kind = c.kind;
            p = c.end;
            token.flags = c.flags;
            if (kind == KIND_ELEMENT || kind == KIND_END_TAG || kind == KIND_PI) {
                cursor.tokenStart = c.nameStart;
                cursor.tokenEnd = c.nameEnd - 1;
            }
        }
    }
    cursor.next = p;
    token.kind = kind;
    token.length = p - s;
    return kind;
}
