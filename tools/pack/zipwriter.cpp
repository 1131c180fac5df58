#include "zipwriter.h"

#include "packagerules.h"

namespace {

const uint16_t NEEDED_DEFLATE = 20;
const uint16_t NEEDED_LZMA = 63;
const uint16_t NEEDED_ZIP64 = 45;
const uint16_t FLAGS = 0x0002;
const uint16_t DATE = 0x0020; // day 0, month 1, year 1980
const uint64_t OFFSET_LIMIT = 0xFFFFFFFFu;
const uint64_t ENTRY_LIMIT = 0xFFFF;

void put16(std::string& out, uint16_t v)
{
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}
void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void put64(std::string& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// The fields local header and central record share, from version needed
// to the extra field's length.
void common(std::string& out, const zipentry& entry)
{
    put16(out, entry.method == ENTRY_LZMA_METHOD ? NEEDED_LZMA : NEEDED_DEFLATE);
    put16(out, FLAGS);
    put16(out, entry.method);
    put16(out, 0);
    put16(out, DATE);
    put32(out, entry.crc);
    put32(out, entry.compressed);
    put32(out, entry.size);
    put16(out, uint16_t(entry.name.size()));
    put16(out, 0);
}

} // namespace

bool zipwriter::open(const std::string& path)
{
    file.reset(fopen(path.c_str(), "wb"));
    position = entries = expected = 0;
    central.clear();
    failed = !file;
    return !failed;
}

bool zipwriter::write(const char* bytes, size_t length)
{
    if (failed || fwrite(bytes, 1, length, file.get()) != length) failed = true;
    position += length;
    return !failed;
}

bool zipwriter::begin(const zipentry& entry)
{
    // The entry's record and data must end where a 32-bit offset still reaches.
    if (!file || expected != 0 || entry.name.size() > 0xFFFF ||
        position + 30 + entry.name.size() + entry.compressed > OFFSET_LIMIT)
        failed = true;
    if (failed) return false;
    std::string record;
    put32(central, 0x02014b50);
    put16(central, 0); // made by
    common(central, entry);
    put16(central, 0); // comment
    put16(central, 0); // disk
    put16(central, entry.text ? 1 : 0);
    put32(central, 0); // external attributes
    put32(central, uint32_t(position));
    central += entry.name;
    put32(record, 0x04034b50);
    common(record, entry);
    record += entry.name;
    ++entries;
    expected = entry.compressed;
    return write(record.data(), record.size());
}

bool zipwriter::add(const char* data, size_t length)
{
    if (length > expected) failed = true;
    if (failed) return false;
    expected -= length;
    return write(data, length);
}

bool zipwriter::close()
{
    if (!file) return false;
    if (expected != 0) failed = true;
    uint64_t start = position;
    write(central.data(), central.size());
    if (position > OFFSET_LIMIT) failed = true;
    std::string end;
    if (entries >= ENTRY_LIMIT) {
        uint64_t record = position;
        put32(end, 0x06064b50);
        put64(end, 44);
        put16(end, NEEDED_ZIP64); // made by
        put16(end, NEEDED_ZIP64);
        put32(end, 0);
        put32(end, 0);
        put64(end, entries);
        put64(end, entries);
        put64(end, central.size());
        put64(end, start);
        put32(end, 0x07064b50);
        put32(end, 0);
        put64(end, record);
        put32(end, 1);
    }
    uint16_t counted = entries >= ENTRY_LIMIT ? 0xFFFF : uint16_t(entries);
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, counted);
    put16(end, counted);
    put32(end, uint32_t(central.size()));
    put32(end, uint32_t(start));
    put16(end, 0);
    write(end.data(), end.size());
    if (closechecked(file) != 0) failed = true;
    return !failed;
}
