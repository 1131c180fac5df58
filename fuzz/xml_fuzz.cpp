// Parses arbitrary text, applies a short sequence of edits taken from the input and checks the index
// against the text after every step; a broken invariant aborts so the fuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/indexcheck.h"
#include "support/xmltesttext.h"
#include "xmldoc.h"

namespace {

const char16_t* const names[] = {u"a", u"source", u"r", u"e", u"A", u"x", u"path", u"b"};
const char16_t* const paths[] = {nullptr, u"",          u"a",   u"source", u"r",    u"a/b", u"a[2]", u"/a",
                                 u"a/",   u"e[@x='1']", u"//a", u"A",      u"b/@c", u"a b", u"x",    u"e"};
const char16_t* const values[] = {u"",
                                  u"v",
                                  u"a&b<c>\"'",
                                  u"]]>",
                                  u"&amp;&#x41;& x",
                                  u"C:\\dir\\\u4e2d.exe",
                                  u"1234567890123456789012345678901234567890"};
constexpr int32_t insertFlags[] = {0,
                                   ADD_AS_CHILD,
                                   ADD_AS_CHILD | ADD_BEFORE,
                                   ADD_BEFORE,
                                   ADD_INLINE,
                                   ADD_AS_CHILD | ADD_INLINE,
                                   ADD_AS_CHILD | ADD_SPACED_CLOSE,
                                   ADD_VALUE_CDATA | ADD_AS_CHILD,
                                   ADD_KEEP_REFS,
                                   ADD_START_TAG_ONLY | ADD_AS_CHILD};

template <typename T, size_t N>
const T& pick(const T (&table)[N], uint8_t b)
{
    return table[b % N];
}

void fail(const char* step, const std::string& why, const xmldoc& doc)
{
    std::fprintf(stderr, "after %s: %s\ntext: %s\n", step, why.c_str(), u8(doc.text).c_str());
    std::abort();
}

void check(const char* step, const xmldoc& doc)
{
    const std::string why = checkIndex(doc);
    if (!why.empty()) fail(step, why, doc);
}

// A sound document stays one whose index equals a fresh parse of its text after plain edits.
void checkAgainstReparse(const char* step, const xmldoc& doc)
{
    // The scan ends at a 0 unit, so elements placed after one are not seen again by design.
    if (doc.text.find(char16_t(0)) != std::u16string::npos) return;
    xmldoc fresh;
    fresh.docFlags = doc.docFlags;
    fresh.setText(std::u16string_view(doc.text));
    const std::string edited = describeIndex(doc);
    const std::string reparsed = describeIndex(fresh);
    if (edited != reparsed) fail(step, "index " + edited + " but a fresh parse gives " + reparsed, doc);
}

// An edit replaces one range of the old text, and that range lies inside [from, to).
void checkLocalEdit(const char* step, const std::u16string& before, const xmldoc& doc, size_t from, size_t to)
{
    const std::u16string& after = doc.text;
    size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const size_t changedEnd = before.size() - suffix;
    if (prefix < changedEnd && (prefix < from || changedEnd > to))
        fail(step, "units outside the edited tag changed", doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const uint8_t control = data[0];
    size_t i = 1;
    std::u16string text;
    while (i < size) {
        const uint8_t b = data[i++];
        if (b == 0 && i < size && data[i] == 0) {
            ++i;
            break;
        }
        // Bytes from 0x80 map onto a few awkward units: CJK, a lone surrogate, a BOM and the top unit.
        if (b < 0x80)
            text += static_cast<char16_t>(b);
        else if (b < 0xF0)
            text += static_cast<char16_t>(0x4E00 + b);
        else if (b < 0xF8)
            text += static_cast<char16_t>(0xD800 + b);
        else if (b < 0xFC)
            text += u'\uFEFF';
        else
            text += u'\uFFFF';
    }

    xmldoc doc;
    doc.docFlags = (control & 1) ? DOC_IGNORE_CASE : 0;
    const bool sound = doc.setText(std::u16string_view(text));
    check("parse", doc);
    // A start tag without end tag, once inserted, reads differently on a fresh parse.
    bool comparable = sound;
    if (sound != doc.isSound()) fail("parse", "verdict changed", doc);
    // Every fault that leaves a result record also makes the document unsound.
    if (sound && !doc.resultText().empty()) fail("parse", "a sound document has result records", doc);

    for (int step = 0; step < 8 && i + 3 <= size; ++step, i += 3) {
        const uint8_t op = data[i], a = data[i + 1], b = data[i + 2];
        switch (op % 6) {
        case 0:
            doc.findNext(pick(paths, a));
            check("findNext", doc);
            break;
        case 1:
            doc.findNextChild(pick(paths, a));
            check("findNextChild", doc);
            break;
        case 2: {
            const int32_t flags = pick(insertFlags, b);
            const std::u16string before = doc.text;
            const size_t count = before.size();
            if (doc.insertElement(pick(names, a), pick(values, static_cast<uint8_t>(a >> 3)), flags)) {
                // Nothing is removed but the '/' of a parent's "/>".
                size_t prefix = 0;
                while (prefix < count && doc.text[prefix] == before[prefix]) ++prefix;
                checkLocalEdit("insertElement", before, doc, prefix, prefix + 1);
            } else if (doc.text != before) {
                fail("insertElement", "a refused insertion changed the text", doc);
            }
            check("insertElement", doc);
            if (flags & ADD_START_TAG_ONLY) comparable = false;
            if (comparable) checkAgainstReparse("insertElement", doc);
            break;
        }
        case 3: {
            const int32_t target = (a & 1) ? doc.childIndex : doc.currentIndex;
            const std::u16string before = doc.text;
            const size_t from = target > 0 && target < doc.nextFreeRecord ? doc.record(target).startOffset : 0;
            const size_t to =
                target > 0 && target < doc.nextFreeRecord ? from + doc.record(target).startTagLength() : 0;
            if (doc.putAttribute(target, pick(names, static_cast<uint8_t>(a >> 1)), pick(values, b), 0))
                checkLocalEdit("putAttribute", before, doc, from + 1, to - 1);
            else if (doc.text != before)
                fail("putAttribute", "a refused attribute write changed the text", doc);
            check("putAttribute", doc);
            if (comparable) checkAgainstReparse("putAttribute", doc);
            break;
        }
        case 4:
            doc.putAttributeNumber(pick(names, a), static_cast<int32_t>(a) * 1000 - static_cast<int32_t>(b) * 70000, 0);
            check("putAttributeNumber", doc);
            if (comparable) checkAgainstReparse("putAttributeNumber", doc);
            break;
        case 5: {
            const int32_t index = doc.nextFreeRecord > 0 ? a % doc.nextFreeRecord : 0;
            const std::u16string name = doc.tagName(index);
            if (index != 0 && name.empty()) fail("tagName", "element without a name", doc);
            break;
        }
        }
    }
    return 0;
}
