// Result records: the text form of a parse's faults and of the steps of a file read or write, written by
// the file layer when a caller asks for the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct parseresult;

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

// Appends (or with RESULT_UPDATE updates) one record in results unless it already holds RESULT_LIMIT
// units; data may be null, number and offset2 are left out when -1.
void appendResult(std::u16string& results, const char16_t* name, const char16_t* data, uint32_t flags, int32_t number,
                  int32_t offset2);
// Appends the faults of parsed to results as records, in the order they were met; the faults one error node
// brought are written as one string, itself held to RESULT_LIMIT units, that is appended whole or not at all.
void appendFaults(std::u16string& results, const parseresult& parsed);
