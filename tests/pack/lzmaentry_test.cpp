// Entries of method 14: the packer's encoder (liblzma) against the entry
// reader's decoder (the LZMA SDK's), as a table. Each row encodes some data,
// may change the entry's bytes or its record, and decodes them through
// pieces of input and output of its own sizes; it names the result the
// reader must give and, for sound rows, the bytes must come back whole.
#include "lzmaencoder.h"
#include "lzmaentry.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <ostream>
#include <string>

namespace {

enum datakind { EMPTY, ONE_BYTE, TEXT, NOISE };

enum fault {
    NONE,
    FLIP_MIDDLE,        // a byte in the middle of the stream changed
    FIRST_BYTE_SET,     // the stream's first byte, always 0, set
    CUT_END,            // the data stop 8 bytes before the stream does
    EXTRA_BYTE,         // a byte follows the stream's end
    RECORD_ONE_SHORT,   // the record says one byte less than the stream makes
    RECORD_ONE_LONG,    // the record says one byte more
    FLAG_CLEARED,       // the entry says no marker, the stream has one
    FLAG_SET,           // the entry says marker, the stream has none
    CRC_WRONG,          // the record's CRC-32 differs
    PROPERTY_SIZE_4,    // the header names 4 property bytes
    PROPERTIES_INVALID, // lc, lp, pb out of range
    HEADER_CUT,         // the data end inside the properties
    OUTPUT_REFUSES,     // the output stops taking data
};

struct LzmaRow {
    const char* label;
    datakind kind;
    size_t size;
    uint32_t dictionary; // 0: fitted by the packer's rule
    bool endmarker;
    fault change;
    size_t inputpiece;  // compressed bytes handed to the decoder per read
    size_t outputpiece; // bytes of each output buffer
    int32_t expected;
};

std::ostream& operator<<(std::ostream& os, const LzmaRow& row) { return os << row.label; }

// Damage the decoder may see as a data error or only by the CRC-32 (or the
// size) of what it made: any of these, never ENTRY_OK.
const int32_t ANY_DAMAGE = -1;

const size_t KIB = 1024;

const LzmaRow ROWS[] = {
    {"empty_with_marker", EMPTY, 0, 0, true, NONE, 65536, 4096, ENTRY_OK},
    {"empty_without_marker", EMPTY, 0, 0, false, NONE, 65536, 4096, ENTRY_OK},
    {"one_byte_with_marker", ONE_BYTE, 1, 0, true, NONE, 1, 1, ENTRY_OK},
    {"one_byte_without_marker", ONE_BYTE, 1, 0, false, NONE, 1, 1, ENTRY_OK},
    {"text_with_marker", TEXT, 300 * KIB, 0, true, NONE, 7, 1000, ENTRY_OK},
    {"text_without_marker", TEXT, 300 * KIB, 0, false, NONE, 65536, 65536, ENTRY_OK},
    // The dictionary is then a ring the decoder goes round many times.
    {"larger_than_the_dictionary_with_marker", TEXT, 1024 * KIB, 4096, true, NONE, 4096, 3000, ENTRY_OK},
    {"larger_than_the_dictionary_without_marker", TEXT, 1024 * KIB, 4096, false, NONE, 65536, 65536, ENTRY_OK},
    {"noise_with_marker", NOISE, 64 * KIB, 0, true, NONE, 65536, 65536, ENTRY_OK},
    // The decoder holds no more than the entry needs, whatever it is asked.
    {"dictionary_larger_than_the_entry", TEXT, 10 * KIB, 64u << 20, true, NONE, 65536, 65536, ENTRY_OK},
    {"stream_damaged_in_the_middle", TEXT, 300 * KIB, 0, true, FLIP_MIDDLE, 65536, 65536, ANY_DAMAGE},
    {"stream_first_byte_set", TEXT, 10 * KIB, 0, true, FIRST_BYTE_SET, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"stream_ends_early_with_marker", TEXT, 300 * KIB, 0, true, CUT_END, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"stream_ends_early_without_marker", TEXT, 300 * KIB, 0, false, CUT_END, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"bytes_after_the_stream", TEXT, 10 * KIB, 0, true, EXTRA_BYTE, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"stream_longer_than_recorded_with_marker", TEXT, 10 * KIB, 0, true, RECORD_ONE_SHORT, 65536, 65536,
     ENTRY_SIZE_MISMATCH},
    {"stream_longer_than_recorded_without_marker", TEXT, 10 * KIB, 0, false, RECORD_ONE_SHORT, 65536, 65536,
     ENTRY_SIZE_MISMATCH},
    {"marker_before_the_recorded_size", TEXT, 10 * KIB, 0, true, RECORD_ONE_LONG, 65536, 65536, ENTRY_SIZE_MISMATCH},
    {"stream_shorter_than_recorded_without_marker", TEXT, 10 * KIB, 0, false, RECORD_ONE_LONG, 65536, 65536,
     ENTRY_DATA_DAMAGED},
    // Without the flag the recorded size ends the data; a marker right there is taken.
    {"marker_the_flag_does_not_announce", TEXT, 10 * KIB, 0, true, FLAG_CLEARED, 65536, 65536, ENTRY_OK},
    {"flag_announces_a_missing_marker", TEXT, 10 * KIB, 0, false, FLAG_SET, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"crc_differs", TEXT, 10 * KIB, 0, true, CRC_WRONG, 65536, 65536, ENTRY_CRC_MISMATCH},
    {"property_size_not_5", TEXT, 10 * KIB, 0, true, PROPERTY_SIZE_4, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"properties_out_of_range", TEXT, 10 * KIB, 0, true, PROPERTIES_INVALID, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"header_cut", EMPTY, 0, 0, true, HEADER_CUT, 65536, 65536, ENTRY_DATA_DAMAGED},
    {"output_refuses", TEXT, 300 * KIB, 0, true, OUTPUT_REFUSES, 65536, 4096, ENTRY_WRITE_FAILED},
};

std::string makedata(datakind kind, size_t size)
{
    std::string out;
    uint32_t seed = 12345;
    while (out.size() < size) {
        switch (kind) {
        case EMPTY: return out;
        case ONE_BYTE: out.push_back('x'); break;
        case TEXT: out += "line " + std::to_string(out.size() % 977) + ": the quick brown fox\r\n"; break;
        case NOISE:
            seed = seed * 1103515245u + 12345u;
            out.push_back(char(seed >> 16));
            break;
        }
    }
    out.resize(size);
    return out;
}

// The compressed bytes, read in pieces of a fixed size.
struct pieceinput {
    const std::string& bytes;
    size_t piece;
    size_t at = 0;
    static long read(void* self, unsigned char* buffer, size_t size)
    {
        pieceinput* in = static_cast<pieceinput*>(self);
        size_t n = std::min({size, in->piece, in->bytes.size() - in->at});
        memcpy(buffer, in->bytes.data() + in->at, n);
        in->at += n;
        return long(n);
    }
};

// Collects the decoded bytes from buffers of a fixed size; refuses the
// second buffer when asked to.
struct collectoutput {
    size_t piece;
    bool refuse;
    std::string buffer;
    std::string data;
    int handed = 0;
    static char* next(void* self, size_t* size)
    {
        collectoutput* out = static_cast<collectoutput*>(self);
        if (out->refuse && out->handed == 2) return nullptr;
        ++out->handed;
        out->buffer.assign(out->piece, '\0');
        *size = out->piece;
        return &out->buffer[0];
    }
    static bool filled(void* self, size_t length)
    {
        collectoutput* out = static_cast<collectoutput*>(self);
        out->data.append(out->buffer, 0, length);
        return true;
    }
};

uint32_t crcof(const std::string& data)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

class LzmaEntry : public testing::TestWithParam<LzmaRow> {};

TEST_P(LzmaEntry, DecodesWhatWasEncodedOrNamesTheFault)
{
    const LzmaRow& row = GetParam();
    std::string data = makedata(row.kind, row.size);
    lzmasettings settings;
    settings.dictionary = row.dictionary;
    settings.endmarker = row.endmarker;
    std::string entry;
    ASSERT_TRUE(lzmaencode(data, settings, entry));
    ASSERT_GE(entry.size(), LZMA_HEADER_SIZE + LZMA_PROPERTIES_SIZE);
    EXPECT_EQ(entry[2], char(LZMA_PROPERTIES_SIZE));

    uint64_t size = data.size();
    uint32_t crc = crcof(data);
    uint16_t flags = row.endmarker ? ENTRY_LZMA_END_MARKER : 0;
    const size_t stream = LZMA_HEADER_SIZE + LZMA_PROPERTIES_SIZE;
    switch (row.change) {
    case NONE:
    case OUTPUT_REFUSES: break;
    case FLIP_MIDDLE: entry[stream + (entry.size() - stream) / 2] ^= 0x10; break;
    case FIRST_BYTE_SET: entry[stream] = 1; break;
    case CUT_END: entry.resize(entry.size() - 8); break;
    case EXTRA_BYTE: entry.push_back('\0'); break;
    case RECORD_ONE_SHORT: size -= 1; break;
    case RECORD_ONE_LONG: size += 1; break;
    case FLAG_CLEARED: flags = 0; break;
    case FLAG_SET: flags = ENTRY_LZMA_END_MARKER; break;
    case CRC_WRONG: crc ^= 1; break;
    case PROPERTY_SIZE_4: entry[2] = 4; break;
    case PROPERTIES_INVALID: entry[LZMA_HEADER_SIZE] = char(225); break;
    case HEADER_CUT: entry.resize(LZMA_HEADER_SIZE + 2); break;
    }

    pieceinput in{entry, row.inputpiece};
    collectoutput out{row.outputpiece, row.change == OUTPUT_REFUSES, {}, {}};
    size_t last = 0;
    size_t dictionary = 0;
    int32_t result = decodelzmaentry(lzmainput{&in, pieceinput::read}, size, crc, flags,
                                     entryoutput{&out, collectoutput::next, collectoutput::filled}, &last, &dictionary);
    if (row.expected == ANY_DAMAGE)
        EXPECT_TRUE(result == ENTRY_DATA_DAMAGED || result == ENTRY_CRC_MISMATCH || result == ENTRY_SIZE_MISMATCH)
            << result;
    else
        EXPECT_EQ(result, row.expected);
    if (result == ENTRY_OK) {
        out.data.append(out.buffer, 0, last);
        EXPECT_TRUE(out.data == data) << "decoded " << out.data.size() << " bytes of " << data.size();
    }
    if (row.change == NONE) {
        // At most the entry and one byte, never more than asked for.
        uint32_t asked = row.dictionary ? row.dictionary : lzmadictionary(row.size, 64u << 20);
        EXPECT_LE(dictionary, std::max<size_t>(std::min<size_t>(asked, row.size + 1), 1));
        EXPECT_GT(dictionary, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Method14, LzmaEntry, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<LzmaRow>& info) { return std::string(info.param.label); });

TEST(LzmaDictionary, FittedToTheEntryWithinTheLimit)
{
    EXPECT_EQ(lzmadictionary(0, 64u << 20), 4096u);
    EXPECT_EQ(lzmadictionary(4096, 64u << 20), 4096u);
    EXPECT_EQ(lzmadictionary(4097, 64u << 20), 6144u);
    EXPECT_EQ(lzmadictionary(6145, 64u << 20), 8192u);
    EXPECT_EQ(lzmadictionary(3u << 20, 64u << 20), 3u << 20);
    EXPECT_EQ(lzmadictionary(1u << 30, 64u << 20), 64u << 20);
    // The memory the encoder takes grows with the entry up to the limit.
    EXPECT_LT(lzmaencodermemory(1000), lzmaencodermemory(10u << 20));
    EXPECT_EQ(lzmaencodermemory(100u << 20), lzmaencodermemory(1u << 30));
}

} // namespace
