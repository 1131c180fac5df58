#include "stampsources.h"

#include "xmldoc.h"

int stampsources(xmldoc& doc, std::u16string_view value)
{
    int stamped = 0;
    while (doc.findNextChild(u"source")) {
        ++stamped;
        doc.putAttribute(doc.childIndex, u"path", value, 0);
    }
    if (stamped > 0) return stamped;
    // The root is current and no child: the new element becomes the first.
    doc.insertElement(u"source", std::u16string_view(), ADD_AS_CHILD | ADD_BEFORE);
    doc.findNextChild(u"source");
    return doc.putAttribute(doc.childIndex, u"path", value, 0) ? 1 : 0;
}
