// Text helpers for the XML tests: ASCII/UTF-8 literals to UTF-16 and back, and a compact index dump.
#pragma once

#include <string>

class xmldoc;

// Widens UTF-8 text to UTF-16.
std::u16string u16(const std::string& utf8);
// Narrows UTF-16 text to UTF-8 for messages and comparisons.
std::string u8(const std::u16string& text);
// Returns the index as nested "name@start+total" entries; '~' marks REC_NO_END_TAG, '*' REC_CONTAINS_ERROR.
std::string describeIndex(const xmldoc& doc);
