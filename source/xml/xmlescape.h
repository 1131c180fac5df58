// Escaping text for markup, CDATA wrapping and the result-record writer.
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

// appendResult flags: which attribute names carry the data string and the number.
constexpr uint32_t RESULT_NUMBER_COUNT = 0x01;
constexpr uint32_t RESULT_DATA_TYPE = 0x02;
constexpr uint32_t RESULT_NUMBER_N = 0x04;
constexpr uint32_t RESULT_DATA_ENCODING = 0x08;
constexpr uint32_t RESULT_NUMBER_LENGTH = 0x10;
constexpr uint32_t RESULT_UPDATE = 0x20;
constexpr uint32_t RESULT_DATA_MSG = 0x40;

// Result strings stop growing once they hold this many units.
constexpr size_t RESULT_LIMIT = 1000;

// Returns text with '<', '&', '>' (and with ESCAPE_ATTRIBUTE both quotes) replaced by references.
std::u16string escapeXml(std::u16string_view text, int32_t flags);
// Returns text as one or more CDATA sections, splitting every "]]>".
std::u16string wrapCdata(std::u16string_view text);
// Appends (or with RESULT_UPDATE updates) one record in results unless it already holds RESULT_LIMIT
// units; data may be null, number and offset2 are left out when -1.
void appendResult(std::u16string& results, const char16_t* name, const char16_t* data, uint32_t flags, int32_t number,
                  int32_t offset2);
// Returns number in decimal, with a leading '-' when negative.
std::u16string decimalText(int64_t number);
