#include "xmldoc.h"

xmldoc::xmldoc() : elements(std::make_unique<elementstore>()) {}

xmldoc::xmldoc(const char16_t* initial) : xmldoc() { setText(initial); }

bool xmldoc::setText(const char16_t* newText)
{
    if (newText) return setText(std::u16string_view(newText));
    text.clear();
    text.shrink_to_fit();
    elements->release();
    fileResults.clear();
    return rebuildIndex();
}

bool xmldoc::setText(std::u16string_view newText)
{
    text.assign(newText.data(), newText.size());
    fileResults.clear();
    return rebuildIndex();
}

void xmldoc::replaceText(int32_t offset, int32_t removeLength, std::u16string_view insertion)
{
    size_t newLength = text.size() - static_cast<size_t>(removeLength) + insertion.size();
    if (newLength > text.capacity()) text.reserve(newLength + newLength / 2 + 128);
    text.replace(static_cast<size_t>(offset), static_cast<size_t>(removeLength), insertion);
}

int32_t xmldoc::handOutRecord()
{
    if (nextFreeRecord >= elements->capacity) {
        int32_t capacity = elements->capacity;
        elements->grow(capacity + capacity / 2);
        if (elements->capacity <= nextFreeRecord) elements->grow(capacity + 8);
    }
    return nextFreeRecord++;
}

void xmldoc::linkRecord(int32_t parent, int32_t after, int32_t r)
{
    elementrecord& rr = record(r);
    rr.parent = parent;
    if (after != 0) {
        elementrecord& ar = record(after);
        rr.flags &= ~REC_FIRST_CHILD;
        rr.nextSibling = ar.nextSibling;
        if (rr.nextSibling != 0)
            record(rr.nextSibling).prevSibling = r;
        else
            record(record(parent).firstChild).prevSibling = r;
        ar.nextSibling = r;
        rr.prevSibling = after;
    } else {
        elementrecord& pr = record(parent);
        rr.flags |= REC_FIRST_CHILD;
        if (pr.firstChild != 0) {
            elementrecord& f = record(pr.firstChild);
            rr.nextSibling = pr.firstChild;
            rr.prevSibling = f.prevSibling;
            f.prevSibling = r;
            f.flags &= ~REC_FIRST_CHILD;
        } else {
            rr.nextSibling = 0;
            rr.prevSibling = r;
        }
        pr.firstChild = r;
    }
    if (parent != 0) rr.setLevel(record(parent).level() + 1);
}

void xmldoc::shiftFollowing(int32_t r, int32_t delta, bool skipOwnChildren)
{
    if (record(r).startTagLength() == 0) return;
    int32_t a = record(r).parent;
    // The next record in text order after x without entering x's children, or a when a encloses
    // everything left of x's chain.
    auto following = [&](int32_t x) {
        if (record(x).nextSibling != 0) return record(x).nextSibling;
        for (int32_t q = record(x).parent;; q = record(q).parent) {
            if (q == a) return a;
            if (record(q).nextSibling != 0) return record(q).nextSibling;
            if (q == 0) return 0;
        }
    };
    int32_t x = r;
    bool firstStep = true;
    bool xEncloses = false;
    for (;;) {
        int32_t y;
        if (xEncloses) {
            a = record(x).parent;
            y = following(x);
        } else if (record(x).firstChild != 0 && !(firstStep && skipOwnChildren)) {
            y = record(x).firstChild;
        } else {
            y = following(x);
        }
        firstStep = false;
        elementrecord& yr = record(y);
        xEncloses = (y == a);
        if (xEncloses)
            yr.totalLength += delta;
        else
            yr.startOffset += delta;
        if (yr.startTagLength() == 0) break;
        x = y;
    }
}

void xmldoc::zeroPositions()
{
    parentIndex = 0;
    currentIndex = 0;
    childIndex = 0;
    nodeKind = 0;
}
