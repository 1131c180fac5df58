// Loading and saving an xmldoc through the document file I/O.
#include "docfile.h"
#include "xmldoc.h"

bool xmldoc::loadFile(const char16_t* path)
{
    // A failed read leaves the index as it was: callers clear the document
    // first when they go on using it.
    if (!readTextFile(path, text, results, &docFlags)) return false;
    return rebuildIndex();
}

bool xmldoc::saveFile(const char16_t* path) { return writeTextFile(path, text, results, &docFlags); }
