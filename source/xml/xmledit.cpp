#include "xmldoc.h"

using unitclass::isNameBoundary;

namespace {

// Returns the offset after the predicate whose '[' is at p[i], or -1 when it does not parse. A predicate is
// only checked, never applied: a number, "@name" with an optional value, or a name, then ']'.
int32_t skipPredicate(const char16_t* p, int32_t i)
{
    const int32_t start = ++i;
    if (p[i] >= u'1' && p[i] <= u'9') {
        while (p[i] >= u'0' && p[i] <= u'9') ++i;
    } else {
        while (!isNameBoundary(p[i])) ++i;
        if (p[start] == u'@' && p[i] == u'=') {
            ++i;
            if (p[i] == u'\'' || p[i] == u'"') {
                const char16_t quote = p[i++];
                while (p[i] != 0 && p[i] != quote) ++i;
                if (p[i] == 0) return -1;
                ++i;
            } else {
                while (p[i] != 0 && p[i] != u']') ++i;
            }
        }
    }
    return p[i] == u']' ? i + 1 : -1;
}

} // namespace

pathcursor::pathcursor(const char16_t* path) : pathText(path)
{
    if (!path || path[0] == 0) {
        kind = PATH_NONE;
        return;
    }
    const char16_t* p = path;
    pos = 0;
    if (p[0] == u'/') pos = (p[1] == u'/') ? 2 : 1;
    kind = pos + 1;
    stepStart = pos;
    int32_t i = pos;
    for (;;) {
        const int32_t nameStart = i;
        while (!isNameBoundary(p[i])) ++i;
        if (i == nameStart) {
            kind = PATH_INVALID;
            return;
        }
        if (p[i] == u'[') {
            i = skipPredicate(p, i);
            if (i < 0) {
                kind = PATH_INVALID;
                return;
            }
        }
        if (p[i] == 0) break;
        if (p[i] == u'/') {
            if (p[i + 1] == u'@') {
                // Only a last step may name an attribute.
                int32_t j = i + 2;
                while (!isNameBoundary(p[j])) ++j;
                if (j > i + 2 && p[j] == 0) break;
                kind = PATH_INVALID;
                return;
            }
            if (kind == PATH_ANYWHERE) {
                kind = PATH_INVALID;
                return;
            }
            ++i;
            continue;
        }
        kind = PATH_INVALID;
        return;
    }
    pos = stepStart;
}

int32_t xmldoc::scanChildren(int32_t parent, int32_t after, const char16_t* path) const
{
    pathcursor steps(path);
    if (steps.kind == PATH_INVALID || steps.kind == PATH_ABSOLUTE || steps.kind == PATH_ANYWHERE) return 0;
    int32_t candidate = after != 0 ? record(after).nextSibling : record(parent).firstChild;
    if (steps.kind == PATH_NONE) return candidate;
    const char16_t* want = path + steps.pos;
    int32_t wantLength = 0;
    while (want[wantLength] != 0) ++wantLength;
    const bool ignoreCase = (docFlags & DOC_IGNORE_CASE) != 0;
    for (; candidate != 0; candidate = record(candidate).nextSibling) {
        tokencursor cursor;
        cursor.text = text.c_str();
        cursor.next = record(candidate).startOffset + 1;
        cursor.flags = docFlags;
        if (!cursor.nextWord()) continue;
        const int32_t n = cursor.tokenEnd - cursor.tokenStart + 1;
        if (n <= wantLength && compareNames(cursor.text + cursor.tokenStart, want, n, ignoreCase) == 0 &&
            isNameBoundary(want[n]))
            return candidate;
    }
    return 0;
}

bool xmldoc::findNext(const char16_t* path)
{
    if (!elements || elements->capacity == 0) return false;
    const int32_t r = scanChildren(parentIndex, currentIndex, path);
    if (r == 0) return false;
    currentIndex = r;
    parentIndex = record(r).parent;
    childIndex = 0;
    nodeKind = KIND_ELEMENT;
    return true;
}

bool xmldoc::findNextChild(const char16_t* path)
{
    if (!elements || elements->capacity == 0) return false;
    if (currentIndex == 0) findNext(nullptr);
    const int32_t r = scanChildren(currentIndex, childIndex, path);
    if (r == 0) return false;
    childIndex = r;
    currentIndex = record(r).parent;
    parentIndex = currentIndex != 0 ? record(currentIndex).parent : 0;
    nodeKind = currentIndex != 0 ? KIND_ELEMENT : 0;
    return true;
}

std::u16string xmldoc::tagName(int32_t index) const
{
    if (index == 0) return std::u16string();
    tokencursor cursor;
    cursor.text = text.c_str();
    cursor.next = record(index).startOffset + 1;
    cursor.flags = docFlags;
    if (!cursor.nextWord()) return std::u16string();
    return cursor.tokenText();
}

std::u16string xmldoc::endTagName(int32_t index) const
{
    size_t from = static_cast<size_t>(record(index).startOffset) + 1;
    size_t to = from;
    while (to < text.size() && text[to] != 0 && !unitclass::isTagNameEnd(text[to])) ++to;
    return text.substr(from, to - from);
}

xmldoc::splice xmldoc::spliceText(int32_t parent, int32_t reference, std::u16string markup, int32_t flags)
{
    const bool inlined = (flags & ADD_INLINE) != 0;
    const bool before = (flags & ADD_BEFORE) != 0;
    elementrecord& p = record(parent);
    const bool startTagOnly = parent != 0 && p.startTagLength() == p.totalLength;
    const bool empty = parent != 0 && !startTagOnly && p.totalLength == p.startTagLength() + p.endTagLength();

    int32_t offset;
    if (reference != 0) {
        const elementrecord& r = record(reference);
        offset = before ? r.startOffset : r.startOffset + r.totalLength;
    } else if (startTagOnly) {
        offset = p.startOffset + p.startTagLength() - ((p.flags & REC_NO_END_TAG) ? 0 : 1);
    } else if (before) {
        offset = p.startOffset + p.startTagLength();
    } else {
        offset = p.startOffset + p.totalLength - p.endTagLength();
    }
    if (!inlined && !startTagOnly) {
        size_t q = static_cast<size_t>(offset);
        while (q < text.size() && unitclass::isWhitespace(text[q])) ++q;
        if (q == text.size() || text[q] == u'<') offset = static_cast<int32_t>(q);
    }

    int32_t after;
    if (reference != 0)
        after = !before ? reference : (record(reference).flags & REC_FIRST_CHILD) ? 0 : record(reference).prevSibling;
    else
        after = before ? 0 : (p.firstChild != 0 ? record(p.firstChild).prevSibling : 0);

    int32_t elementOffset = offset;
    if (!inlined) {
        markup += u"\r\n";
        if (startTagOnly || empty) elementOffset += 2;
    }

    std::u16string insertion;
    int32_t at = offset;
    int32_t removed = 0;
    if (startTagOnly) {
        // The end tag repeats the name exactly as the indexer reads it (up to whitespace, '/' or '>'),
        // so that a fresh parse pairs it with this start tag; tagName would stop early at units like ';'.
        const std::u16string parentName = endTagName(parent);
        insertion.assign(1, u'>');
        if (!inlined) insertion += u"\r\n";
        insertion += markup;
        insertion += u"</";
        insertion += parentName;
        if (p.flags & REC_NO_END_TAG) {
            at = p.startOffset + p.totalLength - 1;
            p.flags &= ~REC_NO_END_TAG;
        } else {
            at = p.startOffset + p.totalLength - 2;
            removed = 1;
            if (text[static_cast<size_t>(at) - 1] == u'/') {
                // "//>" would still end in "/>" without the last '/': a space takes its place instead.
                insertion.insert(0, 1, u' ');
                ++elementOffset;
            } else {
                p.setTagLengths(p.startTagLength() - 1, p.endTagLength());
            }
        }
        p.setTagLengths(p.startTagLength(), static_cast<int32_t>(parentName.size()) + 3);
    } else if (empty && !inlined) {
        insertion = u"\r\n" + markup;
    } else {
        insertion = std::move(markup);
    }
    replaceText(at, removed, insertion);
    return {elementOffset, after, removed, static_cast<int32_t>(insertion.size())};
}

bool xmldoc::insertElement(std::u16string_view name, std::u16string_view value, int32_t flags)
{
    if (!elements || elements->capacity == 0) return false;
    if ((flags & ADD_AS_CHILD) && currentIndex == 0) return false;
    if ((flags & ADD_START_TAG_ONLY) && !value.empty()) return false;
    const bool asChild = (flags & ADD_AS_CHILD) != 0;
    const int32_t parent = asChild ? currentIndex : parentIndex;
    const int32_t reference = asChild ? childIndex : currentIndex;

    const int32_t nameLength = static_cast<int32_t>(name.size());
    std::u16string markup = u"<";
    markup += name;
    int32_t totalLength, startLength, endLength;
    if (!value.empty()) {
        const std::u16string v = (flags & ADD_VALUE_CDATA) ? wrapCdata(value) : escapeXml(value, flags);
        markup += u'>';
        markup += v;
        markup += u"</";
        markup += name;
        markup += u'>';
        totalLength = static_cast<int32_t>(v.size()) + 2 * nameLength + 5;
        startLength = nameLength + 2;
        endLength = nameLength + 3;
    } else {
        markup += (flags & ADD_START_TAG_ONLY) ? u">" : (flags & ADD_SPACED_CLOSE) ? u" />" : u"/>";
        totalLength = startLength = static_cast<int32_t>(markup.size());
        endLength = 0;
    }
    // Tags the packed tag-length word cannot describe are refused before anything changes.
    if (startLength > MAX_START_TAG_LENGTH || endLength > MAX_END_TAG_LENGTH) return false;
    if (parent != 0) {
        const elementrecord& p = record(parent);
        if (p.startTagLength() == p.totalLength &&
            static_cast<int32_t>(endTagName(parent).size()) + 3 > MAX_END_TAG_LENGTH)
            return false;
    }

    const int32_t r = handOutRecord();
    const splice placed = spliceText(parent, reference, std::move(markup), flags);
    elementrecord& rr = record(r);
    rr.startOffset = placed.offset;
    rr.totalLength = totalLength;
    rr.setTagLengths(startLength, endLength);
    rr.firstChild = 0;
    rr.flags = (flags & ADD_START_TAG_ONLY) ? REC_NO_END_TAG : 0;
    linkRecord(parent, placed.after, r);
    shiftFollowing(r, placed.inserted - placed.removed, false);

    if (asChild) {
        childIndex = r;
    } else {
        parentIndex = parent;
        currentIndex = r;
        childIndex = 0;
    }
    nodeKind = currentIndex != 0 ? KIND_ELEMENT : 0;
    return true;
}

namespace {

// Whether tag (a start tag as the parser read it, edited) still scans as one start tag of that length, with
// the same name and the same verdict on "/>": an attribute edit must leave the element where it was.
bool keepsShape(std::u16string tag, int32_t nameLength, bool emptyElement)
{
    tag.push_back(0);
    tokencursor cursor;
    cursor.text = tag.c_str();
    nodetoken token;
    if (scanNode(cursor, token) != KIND_ELEMENT) return false;
    return token.length == static_cast<int32_t>(tag.size()) - 1 &&
           cursor.tokenEnd - cursor.tokenStart + 1 == nameLength &&
           ((token.flags & EMPTY_ELEMENT_TAG) != 0) == emptyElement;
}

} // namespace

bool xmldoc::putAttribute(int32_t index, std::u16string_view name, std::u16string_view value, int32_t flags)
{
    if (!validRecord(index) || nodeKind != KIND_ELEMENT) return false;
    const std::u16string v = escapeXml(value, flags | ESCAPE_ATTRIBUTE);
    elementrecord& e = record(index);
    const int32_t tagClose = e.startOffset + e.startTagLength() - 1;
    const std::u16string wanted(name);
    tokencursor cursor;
    cursor.text = text.c_str();
    cursor.next = e.startOffset + 1;
    cursor.flags = docFlags;
    const bool found = cursor.locateAttribute(wanted.c_str(), 0, nullptr, tagClose);
    const bool emptyElement = e.endTagLength() == 0 && !(e.flags & REC_NO_END_TAG);

    std::u16string insertion;
    int32_t at;
    int32_t removed = 0;
    if (found && (cursor.flags & VALUE_TOKEN)) {
        if (cursor.flags & QUOTED_TOKEN) {
            at = cursor.tokenStart - 1;
            int32_t end = cursor.tokenEnd + 1;
            if (end < tagClose && text[static_cast<size_t>(end)] == text[static_cast<size_t>(at)]) ++end;
            removed = end - at;
        } else {
            at = cursor.tokenStart;
            int32_t end = cursor.tokenEnd + 1;
            // The value scan runs to the '>', but where the parser read the '/' before it as the close of
            // an empty-element tag ("<c path=d'/>"), the value ends before that '/'.
            if (emptyElement && end == tagClose && text[static_cast<size_t>(tagClose - 1)] == u'/') --end;
            removed = end - at;
        }
        insertion = u"\"" + v + u"\"";
    } else if (found) {
        at = cursor.tokenEnd + 1;
        insertion = u"=\"" + v + u"\"";
    } else {
        at = cursor.next;
        // An empty-element tag must keep its "/>" last, or it would read as a start tag.
        if (emptyElement && at > tagClose - 1 && text[static_cast<size_t>(tagClose - 1)] == u'/') at = tagClose - 1;
        insertion = u" " + wanted + u"=\"" + v + u"\"";
    }
    const int32_t delta = static_cast<int32_t>(insertion.size()) - removed;
    if (static_cast<int64_t>(e.startTagLength()) + delta > MAX_START_TAG_LENGTH) return false;
    // Where the value scan and the parser still read the tag differently (or the name given holds a
    // delimiter), the edit is refused rather than allowed to move the tag's end or change what it closes.
    std::u16string tag = text.substr(static_cast<size_t>(e.startOffset), static_cast<size_t>(e.startTagLength()));
    tag.replace(static_cast<size_t>(at - e.startOffset), static_cast<size_t>(removed), insertion);
    if (!keepsShape(std::move(tag), static_cast<int32_t>(endTagName(index).size()), emptyElement)) return false;
    replaceText(at, removed, insertion);
    e.setTagLengths(e.startTagLength() + delta, e.endTagLength());
    e.totalLength += delta;
    shiftFollowing(index, delta, false);
    return true;
}

bool xmldoc::putAttributeNumber(std::u16string_view name, int32_t number, int32_t flags)
{
    return putAttribute(currentIndex, name, decimalText(number), flags);
}
