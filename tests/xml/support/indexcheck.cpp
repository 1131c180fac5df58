#include "indexcheck.h"

#include <sstream>
#include <vector>

#include "xmldoc.h"

namespace {

constexpr uint32_t KNOWN_FLAGS =
    REC_LEVEL_MASK | REC_RELEASED | REC_FIRST_CHILD | REC_NO_END_TAG | REC_CONTAINS_ERROR | REC_ILL_FORMED;

struct failure {
    std::ostringstream out;
    bool failed = false;
    template <typename T>
    failure& operator<<(const T& v)
    {
        failed = true;
        out << v;
        return *this;
    }
};

} // namespace

std::string checkIndex(const xmldoc& doc)
{
    failure f;
    const elementstore& store = *doc.elements;
    const int64_t length = static_cast<int64_t>(doc.text.size());
    if (store.capacity <= 0) return "store has no records";
    {
        const int32_t pagesUsed = ((store.capacity - 1) >> 16) + 1;
        if (store.pageSlots() < pagesUsed) return "page array smaller than the pages in use";
        for (int32_t p = 0; p < pagesUsed; ++p)
            if (!store.pages[p]) return "missing page " + std::to_string(p);
    }
    if (doc.nextFreeRecord < 1 || doc.nextFreeRecord > store.capacity)
        return "nextFreeRecord " + std::to_string(doc.nextFreeRecord) + " outside 1.." + std::to_string(store.capacity);
    const elementrecord& d = doc.record(0);
    if (d.startOffset != 0 || d.totalLength != length || d.tagLengths != 0 || d.level() != 0 || d.parent != 0 ||
        d.nextSibling != 0 || d.prevSibling != 0) {
        f << "document record: start " << d.startOffset << " total " << d.totalLength << " text " << length << " tags "
          << d.tagLengths << " level " << d.level() << " parent " << d.parent << " next " << d.nextSibling << " prev "
          << d.prevSibling;
        return f.out.str();
    }
    for (int32_t pos : {doc.parentIndex, doc.currentIndex, doc.childIndex})
        if (pos < 0 || pos >= doc.nextFreeRecord) return "position " + std::to_string(pos) + " is not a record";
    if (doc.nodeKind != (doc.currentIndex != 0 ? KIND_ELEMENT : 0) && doc.nodeKind != 0)
        return "nodeKind " + std::to_string(doc.nodeKind) + " does not match currentIndex";

    std::vector<char> seen(static_cast<size_t>(doc.nextFreeRecord), 0);
    int32_t visited = 0;
    // Walk every chain without recursion; each parent is checked when its chain is walked.
    std::vector<int32_t> parents{0};
    while (!parents.empty()) {
        const int32_t p = parents.back();
        parents.pop_back();
        const elementrecord& pr = doc.record(p);
        int64_t contentStart = p == 0 ? 0 : int64_t{pr.startOffset} + pr.startTagLength();
        int64_t contentEnd = p == 0 ? length : int64_t{pr.startOffset} + pr.totalLength - pr.endTagLength();
        int64_t cursor = contentStart;
        int32_t last = 0;
        for (int32_t c = pr.firstChild; c != 0; c = doc.record(c).nextSibling) {
            if (c < 1 || c >= doc.nextFreeRecord) {
                f << "record " << c << " (child of " << p << ") is not a handed-out record";
                return f.out.str();
            }
            if (seen[static_cast<size_t>(c)]) {
                f << "record " << c << " is reached twice";
                return f.out.str();
            }
            seen[static_cast<size_t>(c)] = 1;
            ++visited;
            const elementrecord& e = doc.record(c);
            const int64_t start = e.startOffset;
            const int64_t end = start + e.totalLength;
            const int64_t stl = e.startTagLength();
            const int64_t etl = e.endTagLength();
            if ((e.flags & ~KNOWN_FLAGS) != 0 || (e.flags & REC_RELEASED))
                f << "record " << c << " has stray flags";
            else if (start < 0 || end > length || stl < 3 || e.totalLength < stl + etl)
                f << "record " << c << " range [" << start << "," << end << ") tags " << stl << "+" << etl
                  << " does not fit the text of " << length;
            else if (doc.text[static_cast<size_t>(start)] != u'<')
                f << "record " << c << " does not start at '<' (offset " << start << ")";
            else if (doc.text[static_cast<size_t>(start + stl - 1)] != u'>')
                f << "record " << c << " start tag does not end at '>'";
            else if (etl > 0 && (doc.text[static_cast<size_t>(end - etl)] != u'<' ||
                                 doc.text[static_cast<size_t>(end - etl + 1)] != u'/' ||
                                 doc.text[static_cast<size_t>(end - 1)] != u'>'))
                f << "record " << c << " end tag [" << end - etl << "," << end << ") is not </...>";
            else if (etl == 0 && e.totalLength != stl)
                f << "record " << c << " has no end tag but totalLength " << e.totalLength << " != " << stl;
            else if ((e.flags & REC_NO_END_TAG) && etl != 0)
                f << "record " << c << " is marked without end tag but has one";
            else if (start < cursor || end > contentEnd)
                f << "record " << c << " [" << start << "," << end << ") outside its parent's content [" << cursor
                  << "," << contentEnd << ") or before its previous sibling";
            else if (e.parent != p)
                f << "record " << c << " has parent " << e.parent << " but sits in the chain of " << p;
            else if (e.level() != (p == 0 ? 0u : ((pr.level() + 1) & REC_LEVEL_MASK)))
                f << "record " << c << " level " << e.level() << " under parent level " << pr.level();
            else if (((e.flags & REC_FIRST_CHILD) != 0) != (c == pr.firstChild))
                f << "record " << c << " REC_FIRST_CHILD does not match its place";
            else if (c != pr.firstChild && e.prevSibling != last)
                f << "record " << c << " prevSibling " << e.prevSibling << " should be " << last;
            if (f.failed) return f.out.str();
            cursor = end;
            last = c;
            if (e.firstChild != 0) parents.push_back(c);
        }
        if (pr.firstChild != 0 && doc.record(pr.firstChild).prevSibling != last) {
            f << "first child of " << p << " has prevSibling " << doc.record(pr.firstChild).prevSibling
              << " instead of the last child " << last;
            return f.out.str();
        }
    }
    if (visited != doc.nextFreeRecord - 1) {
        f << visited << " records in the tree but " << doc.nextFreeRecord - 1 << " handed out";
        return f.out.str();
    }
    return std::string();
}
