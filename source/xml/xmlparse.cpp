#include <vector>

#include "xmldoc.h"

namespace {

// An open element while indexing; its name is read from the text, not copied.
struct openelement {
    int32_t record;
    int32_t nameStart;
    int32_t nameLength;
};

// One indexing pass of xmldoc::indexElements: the elements still open, innermost last, with entry 0
// standing for the root the new records go under.
class elementindexer {
public:
    elementindexer(xmldoc& doc, int32_t root, const tokencursor& cursor)
        : doc(doc), root(root), baseLevel(root == 0 ? 0 : doc.record(root).level() + 1),
          ignoreCase((cursor.flags & DOC_IGNORE_CASE) != 0), t(cursor.text)
    {
        stack.reserve(8);
        stack.push_back({root, 0, 0});
    }

    // Indexes every node from cursor.next to the end of the text; returns the first record created, or 0.
    int32_t run(tokencursor& cursor)
    {
        nodetoken token;
        for (;;) {
            const int32_t kind = scanNode(cursor, token);
            if (kind == KIND_ELEMENT) {
                startElement(token, cursor);
            } else if (kind == KIND_END_TAG) {
                endElement(token, cursor);
            } else if (kind == KIND_ERROR) {
                flagFault();
                doc.parsed.addHeld(token.held);
                token.held.clear();
            } else if (kind == KIND_END) {
                closeAbove(0, static_cast<int32_t>(doc.text.size()));
                break;
            }
        }
        if (hoisted) relevel();
        return first;
    }

private:
    elementrecord& record(int32_t i) { return doc.record(i); }

    void flagFault()
    {
        record(root).flags |= REC_ILL_FORMED;
        record(stack.back().record).flags |= REC_CONTAINS_ERROR;
    }

    // A start tag: a new record, the last child of the innermost open element, which it joins on the stack
    // unless it closes itself.
    void startElement(const nodetoken& token, const tokencursor& cursor)
    {
        if (token.length > MAX_START_TAG_LENGTH) {
            flagFault(); // a start tag the record cannot describe is left out of the index
            return;
        }
        const int32_t r = doc.handOutRecord();
        if (first == 0) first = r;
        const int32_t o = stack.back().record;
        elementrecord& rr = record(r);
        elementrecord& orec = record(o);
        rr.parent = o;
        rr.nextSibling = 0;
        rr.firstChild = 0;
        if (orec.firstChild != 0) {
            elementrecord& f = record(orec.firstChild);
            record(f.prevSibling).nextSibling = r;
            rr.prevSibling = f.prevSibling;
            f.prevSibling = r;
            rr.flags = 0;
        } else {
            orec.firstChild = r;
            rr.prevSibling = r;
            rr.flags = REC_FIRST_CHILD;
        }
        rr.setLevel(baseLevel + static_cast<uint32_t>(stack.size() - 1));
        rr.startOffset = token.start;
        rr.setTagLengths(token.length, 0);
        rr.totalLength = token.length;
        if (!(token.flags & EMPTY_ELEMENT_TAG))
            stack.push_back({r, cursor.tokenStart, cursor.tokenEnd - cursor.tokenStart + 1});
    }

    // An end tag: it closes the innermost open element it names, and every element open inside that one;
    // one that names none is a fault.
    void endElement(const nodetoken& token, const tokencursor& cursor)
    {
        const int32_t n = cursor.tokenEnd - cursor.tokenStart + 1;
        const char16_t* endName = t + cursor.tokenStart;
        const size_t match = token.length <= MAX_END_TAG_LENGTH ? openNamed(endName, n) : 0;
        if (match == 0) {
            flagFault();
            doc.parsed.add(PARSE_LONE_END_TAG, token.start, -1, std::u16string_view(endName, static_cast<size_t>(n)));
            return;
        }
        closeAbove(match, token.start + 1);
        elementrecord& mr = record(stack[match].record);
        mr.totalLength = token.start + token.length - mr.startOffset;
        mr.setTagLengths(mr.startTagLength(), token.length);
        stack.pop_back();
    }

    // The stack entry of the innermost open element whose name the n units at name end, or 0.
    size_t openNamed(const char16_t* name, int32_t n) const
    {
        for (size_t i = stack.size() - 1; i >= 1; --i) {
            const openelement& e = stack[i];
            if (e.nameLength >= n && compareNames(t + e.nameStart, name, n, ignoreCase) == 0 &&
                (e.nameLength == n || unitclass::isNameBoundary(t[e.nameStart + n])))
                return i;
        }
        return 0;
    }

    // Closes every element open above stack entry k as start-tag-only, all at once: their children end
    // up as following siblings under entry k, which is where closing them one by one would leave them,
    // and each child is relinked only once however deep the open chain is.
    void closeAbove(size_t k, int32_t offset2)
    {
        const size_t depth = stack.size() - 1;
        if (depth <= k) return;
        for (size_t i = depth; i > k; --i) {
            const openelement& e = stack[i];
            doc.parsed.add(PARSE_UNENDED_START_TAG, record(e.record).startOffset, offset2,
                           std::u16string_view(t + e.nameStart, static_cast<size_t>(e.nameLength)));
        }
        const int32_t m = stack[k].record;
        bool containsError = false;
        int32_t chainEnd = 0;
        record(root).flags |= REC_ILL_FORMED;
        for (size_t i = k + 1; i <= depth; ++i) {
            const int32_t u = stack[i].record;
            elementrecord& ur = record(u);
            ur.setTagLengths(ur.startTagLength(), 0);
            ur.totalLength = ur.startTagLength();
            ur.flags |= REC_NO_END_TAG;
            if (ur.flags & REC_CONTAINS_ERROR) {
                containsError = true;
                ur.flags &= ~REC_CONTAINS_ERROR;
            }
            const int32_t c = ur.firstChild;
            if (c == 0) {
                chainEnd = u;
                continue;
            }
            chainEnd = hoistChildren(u, m);
        }
        record(record(m).firstChild).prevSibling = chainEnd;
        if (containsError) record(m).flags |= REC_CONTAINS_ERROR;
        stack.resize(k + 1);
    }

    // Makes the children of the open element u its following siblings under m; returns the last of them.
    int32_t hoistChildren(int32_t u, int32_t m)
    {
        hoisted = true;
        elementrecord& ur = record(u);
        const int32_t c = ur.firstChild;
        const int32_t last = record(c).prevSibling;
        ur.nextSibling = c; // an open element is always the last child of its parent
        record(c).prevSibling = u;
        record(c).flags &= ~REC_FIRST_CHILD;
        for (int32_t x = c; x != 0; x = record(x).nextSibling) record(x).parent = m;
        ur.firstChild = 0;
        return last;
    }

    // Hoisted subtrees moved up one or more levels: levels are set again in one pass over the tree.
    void relevel()
    {
        int32_t x = record(root).firstChild;
        while (x != 0) {
            const int32_t p = record(x).parent;
            record(x).setLevel(p == 0 ? 0 : record(p).level() + 1);
            if (record(x).firstChild != 0) {
                x = record(x).firstChild;
                continue;
            }
            while (x != root && record(x).nextSibling == 0) x = record(x).parent;
            if (x == root) break;
            x = record(x).nextSibling;
        }
    }

    xmldoc& doc;
    const int32_t root;
    const uint32_t baseLevel;
    const bool ignoreCase;
    const char16_t* const t;
    std::vector<openelement> stack;
    int32_t first = 0;
    bool hoisted = false;
};

} // namespace

void parseresult::clear()
{
    faults.clear();
    names.clear();
}

void parseresult::add(int32_t status, int32_t offset, int32_t offset2, std::u16string_view name)
{
    if (faults.size() >= ERROR_LIMIT) return;
    faults.push_back(
        {{status, offset}, offset2, static_cast<int32_t>(names.size()), static_cast<int32_t>(name.size()), 1});
    names.append(name);
}

void parseresult::addHeld(const std::vector<scanerror>& held)
{
    if (held.empty() || faults.size() >= ERROR_LIMIT) return;
    const int32_t nameStart = static_cast<int32_t>(names.size());
    for (const scanerror& e : held) faults.push_back({e, -1, nameStart, 0, 0});
    faults[faults.size() - held.size()].group = static_cast<int32_t>(held.size());
}

int32_t xmldoc::indexElements(int32_t root, tokencursor& cursor)
{
    elementindexer indexer(*this, root, cursor);
    return indexer.run(cursor);
}

bool xmldoc::rebuildIndex()
{
    zeroPositions();
    parsed.clear();
    nextFreeRecord = 1;
    const int32_t required = static_cast<int32_t>(text.size() / 64 + 8);
    if (elements->capacity < required) elements->grow(required);
    record(0) = elementrecord{};
    if (!text.empty()) {
        tokencursor cursor;
        cursor.text = text.c_str();
        cursor.next = 0;
        cursor.tokenStart = 0;
        cursor.tokenEnd = -1;
        cursor.flags = docFlags;
        const int32_t first = indexElements(0, cursor);
        record(0).totalLength = static_cast<int32_t>(text.size());
        if (first != 0) {
            record(0).firstChild = first;
            if (record(first).nextSibling != 0) parsed.add(PARSE_ROOT_HAS_SIBLING, -1, -1, {});
        } else {
            parsed.add(PARSE_NO_ROOT_ELEMENT, -1, -1, {});
        }
    }
    zeroPositions();
    return isSound();
}

bool xmldoc::isSound() const
{
    if (!elements || elements->capacity == 0) return false;
    const elementrecord& doc = record(0);
    return !(doc.flags & REC_ILL_FORMED) && doc.firstChild != 0 && record(doc.firstChild).nextSibling == 0;
}
