// The edit the installer makes to its setup configuration, on a document in
// memory; portable, so it is tested natively as well.
#pragma once

#include <string_view>

class xmldoc;

// Gives every "source" child of the root the attribute path = value, in
// document order; when the root has none, inserts an empty "source" as its
// first child and gives it the attribute. Returns the number of elements
// stamped (0 when the document has no root).
int stampsources(xmldoc& doc, std::u16string_view value);
