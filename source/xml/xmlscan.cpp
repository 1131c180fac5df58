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

bool tokencursor::locateAttribute(const char16_t* name, int32_t ordinal, std::u16string* outName, int32_t limit)
{
    auto atEnd = [&](int32_t p) { return text[p] == 0 || (limit >= 0 && p >= limit); };
    flags &= ~(QUOTED_TOKEN | VALUE_TOKEN);
    int32_t ord = -1;
    bool expectValue = false;
    bool wanted = false;
    int32_t wantedStart = 0, wantedEnd = -1, wantedNext = next, equalsEnd = next;
    auto giveName = [&]() {
        tokenStart = wantedStart;
        tokenEnd = wantedEnd;
        next = wantedNext;
        return true;
    };
    for (;;) {
        gapStart = next;
        while (!atEnd(next) && isWhitespace(text[next])) ++next;
        gapLength = next - gapStart;
        if (atEnd(next)) {
            if (wanted && expectValue) {
                tokenStart = equalsEnd;
                tokenEnd = equalsEnd - 1;
                next = equalsEnd;
                flags |= VALUE_TOKEN;
                return true;
            }
            next = gapStart;
            if (wanted) return giveName();
            return false;
        }
        const char16_t u = text[next];
        const int32_t ts = next;
        int32_t te;
        bool quoted = false;
        if (u == u'"' || u == u'\'') {
            quoted = true;
            int32_t p = ts + 1;
            while (!atEnd(p) && text[p] != u) ++p;
            tokenStart = ts + 1;
            te = p - 1;
            next = atEnd(p) ? p : p + 1;
        } else {
            int32_t p = ts;
            if (expectValue) {
                while (!atEnd(p) && !isWhitespace(text[p]) && text[p] != u'>') ++p;
            } else {
                while (!atEnd(p) && !isWhitespace(text[p]) && text[p] != u'/' && text[p] != u'=' && text[p] != u'>')
                    ++p;
            }
            if (p == ts) ++p;
            tokenStart = ts;
            te = p - 1;
            next = p;
        }
        tokenEnd = te;

        if (expectValue) {
            expectValue = false;
            // A value position holding only the tag's close ("name=>" or "name= />") has an empty value
            // right after the '=': the close stays where it is.
            bool closes = !quoted && (u == u'>' || (u == u'/' && gapLength > 0 && text[ts + 1] == u'>'));
            if (closes) {
                if (wanted) {
                    tokenStart = equalsEnd;
                    tokenEnd = equalsEnd - 1;
                    next = equalsEnd;
                    flags |= VALUE_TOKEN;
                    return true;
                }
                next = gapStart;
                return false;
            }
            if (wanted) {
                flags |= VALUE_TOKEN;
                if (quoted) flags |= QUOTED_TOKEN;
                return true;
            }
            continue;
        }
        if (quoted) {
            if (wanted) return giveName();
            continue;
        }
        if (u == u'=') {
            expectValue = true;
            equalsEnd = next;
            continue;
        }
        if (u == u'>' || u == u'/' || u == u'?') {
            next = gapStart;
            if (wanted) return giveName();
            return false;
        }
        if (wanted) return giveName();
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
        wanted = true;
        wantedStart = tokenStart;
        wantedEnd = tokenEnd;
        wantedNext = next;
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

construct scanTag(const char16_t* t, int32_t s, bool inDoctype, std::vector<scanerror>& held)
{
    construct c;
    int32_t p = s + 1;
    char16_t u = t[p];
    int delimLength = 1;
    char16_t d1 = 0, d2 = 0; // units that must precede '>' for a longer delimiter
    bool attributes = false;
    bool declarationQuotes = false;
    int32_t nameEnd = -1;
    auto unterminated = [&](int32_t at) {
        c.end = -1;
        c.stop = at;
        return c;
    };
    auto readName = [&](int32_t from) {
        int32_t q = from;
        while (t[q] != 0 && !isTagNameEnd(t[q])) ++q;
        c.nameStart = from;
        c.nameEnd = q;
        nameEnd = q;
        return q;
    };
    if (u == 0) return unterminated(p);
    if (isNameStart(u)) {
        c.kind = KIND_ELEMENT;
        c.unterminatedStatus = SCAN_UNTERMINATED_START_TAG;
        attributes = true;
        p = readName(p);
    } else if (u == u'/') {
        c.kind = KIND_END_TAG;
        c.unterminatedStatus = SCAN_UNTERMINATED_END_TAG;
        p = readName(p + 1);
    } else if (u == u'?') {
        c.kind = KIND_PI;
        c.unterminatedStatus = SCAN_UNTERMINATED_PI;
        delimLength = 2;
        d2 = u'?';
        p = readName(p + 1);
    } else if (u == u'!') {
        u = t[++p];
        if (u == 0) return unterminated(p);
        if (u == u'-') {
            u = t[++p];
            if (u == 0) return unterminated(p);
            if (u == u'-') {
                c.kind = KIND_COMMENT;
                c.unterminatedStatus = SCAN_UNTERMINATED_COMMENT;
                delimLength = 3;
                d1 = d2 = u'-';
                ++p;
            } else {
                hold(held, SCAN_COMMENT_TAG_SYNTAX, s);
                attributes = true;
            }
        } else if (!inDoctype) {
            if (u == u'[') {
                u = t[++p];
                if (u == 0) return unterminated(p);
                if (u == u'C') {
                    c.kind = KIND_CDATA;
                    c.unterminatedStatus = SCAN_UNTERMINATED_CDATA;
                    delimLength = 3;
                    d1 = d2 = u']';
                    ++p;
                } else {
                    hold(held, SCAN_CDATA_SECTION_SYNTAX, s);
                    attributes = true;
                }
            } else if (u == u'D') {
                c.kind = KIND_DOCTYPE;
                c.doctypeOpen = true;
                c.end = p + 1;
                return c;
            } else {
                hold(held, SCAN_EXCLAMATION_TAG_SYNTAX, s);
                attributes = true;
            }
        } else if (u == u'A' || u == u'E' || u == u'N') {
            c.kind = KIND_DOCTYPE;
            c.unterminatedStatus = SCAN_UNTERMINATED_DOCTYPE;
            declarationQuotes = true;
            ++p;
        } else {
            hold(held, SCAN_DOCTYPE_TAG_SYNTAX, s);
            attributes = true;
        }
    } else {
        hold(held, SCAN_FIRST_TAG_SYNTAX, s);
        attributes = true;
    }

    attrstate state = attrstate::none;
    char16_t quote = 0;
    for (;; ++p) {
        u = t[p];
        if (u == 0) return unterminated(p);
        if (u == u'<' && c.kind == KIND_ERROR) {
            c.end = p;
            return c;
        }
        if (u == u'>' && state != attrstate::quoted) {
            bool unquotedOpen = state == attrstate::unquoted;
            state = attrstate::none;
            if (delimLength == 1) {
                c.end = p + 1;
                if (c.kind == KIND_ELEMENT && t[p - 1] == u'/' &&
                    (p - 1 == nameEnd || !unquotedOpen || isWhitespace(t[p - 2]) || t[p - 2] == u'"' ||
                     t[p - 2] == u'\''))
                    c.flags |= EMPTY_ELEMENT_TAG;
                return c;
            }
            if (p - s > delimLength && t[p - 1] == d2 && (delimLength == 2 || t[p - 2] == d1)) {
                c.end = p + 1;
                return c;
            }
            continue;
        }
        if (attributes) {
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
        } else if (declarationQuotes) {
            if (state == attrstate::quoted) {
                if (u == quote) state = attrstate::none;
            } else if (u == u'"' || u == u'\'') {
                state = attrstate::quoted;
                quote = u;
            }
        }
    }
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
