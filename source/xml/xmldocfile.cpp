// Loading and saving an xmldoc through the document file I/O, and its result records as text.
#include "docfile.h"
#include "resultrecord.h"
#include "xmldoc.h"

bool xmldoc::loadFile(const char16_t* path)
{
    parsed.clear();
    // A failed read leaves the index as it was: callers clear the document
    // first when they go on using it.
    if (!readTextFile(path, text, fileResults, &docFlags)) return false;
    return rebuildIndex();
}

bool xmldoc::saveFile(const char16_t* path)
{
    parsed.clear();
    return writeTextFile(path, text, fileResults, &docFlags);
}

std::u16string xmldoc::resultText() const
{
    std::u16string out = fileResults;
    appendFaults(out, parsed);
    return out;
}
