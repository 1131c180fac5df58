// The packer's encoder for ZIP entries of method 14 (LZMA), with liblzma:
// the 4-byte header (version, size of the properties) and the 5 property
// bytes the format puts before the stream, then the raw LZMA stream, with
// an end marker (flag bit 1 of the entry) unless asked otherwise. Each
// entry's dictionary is no larger than the entry needs, so whoever decodes
// it needs no more memory than the entry's size, whatever the preset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// liblzma's preset for the packer's entries: level 9, extreme.
extern const uint32_t LZMA_PACK_PRESET;

struct lzmasettings {
    uint32_t preset = LZMA_PACK_PRESET;
    uint32_t dictionary = 0; // 0: fitted to the entry (lzmadictionary)
    bool endmarker = true;
};

// The dictionary for an entry of size bytes: the smallest 2^n or 3 * 2^(n-1)
// bytes that hold it, at least 4 KiB, at most limit.
uint32_t lzmadictionary(uint64_t size, uint32_t limit);

// The memory liblzma's encoder takes for an entry of size bytes with these
// settings; 0 when liblzma refuses them.
uint64_t lzmaencodermemory(uint64_t size, const lzmasettings& settings = lzmasettings());

// Takes a piece of output; false stops the encoding.
struct lzmaoutput {
    void* context;
    bool (*take)(void* context, const unsigned char* data, size_t length);
};

// One entry's encoding. Not copyable; liblzma's state is released with it.
class lzmaencoder {
public:
    // Starts the encoder for an entry of size bytes and hands the header and
    // properties to output. started() tells whether that worked.
    lzmaencoder(uint64_t size, const lzmasettings& settings, const lzmaoutput& output);
    ~lzmaencoder();
    lzmaencoder(const lzmaencoder&) = delete;
    lzmaencoder& operator=(const lzmaencoder&) = delete;

    bool started() const { return ready; }
    // Encodes the next length bytes of the entry; with last, ends the
    // stream. False when liblzma or the output failed (nothing more may
    // follow then).
    bool encode(const unsigned char* data, size_t length, bool last);

private:
    struct state;
    std::unique_ptr<state> self;
    lzmaoutput output;
    bool ready = false;
};

// Encodes data whole into out (header, properties and stream): the entry
// data of method 14. False when liblzma refuses.
bool lzmaencode(const std::string& data, const lzmasettings& settings, std::string& out);
