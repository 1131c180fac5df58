// Escaping text for markup, CDATA wrapping and decimal numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// insertElement flags (escapeXml takes ADD_KEEP_REFS from the same word).
constexpr int32_t ADD_VALUE_CDATA = 0x0001;
constexpr int32_t ADD_INLINE = 0x0002;
constexpr int32_t ADD_SPACED_CLOSE = 0x0004;
constexpr int32_t ADD_KEEP_REFS = 0x0008;
constexpr int32_t ADD_START_TAG_ONLY = 0x0010;
constexpr int32_t ADD_BEFORE = 0x2000;
constexpr int32_t ADD_AS_CHILD = 0x4000;
// escapeXml flag: escape both quote characters too.
constexpr int32_t ESCAPE_ATTRIBUTE = 0x0100;

// Returns text with '<', '&', '>' (and with ESCAPE_ATTRIBUTE both quotes) replaced by references.
std::u16string escapeXml(std::u16string_view text, int32_t flags);
// Returns text as one or more CDATA sections, splitting every "]]>".
std::u16string wrapCdata(std::u16string_view text);
// Returns number in decimal, with a leading '-' when negative.
std::u16string decimalText(int64_t number);
