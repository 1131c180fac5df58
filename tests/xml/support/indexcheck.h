// Verifies every invariant of a document's element index against its text.
#pragma once

#include <string>

class xmldoc;

// Returns an empty string when the index describes the text exactly, else the first violation found.
std::string checkIndex(const xmldoc& doc);
