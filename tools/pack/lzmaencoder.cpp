#include "lzmaencoder.h"

#include "packagerules.h"

#include <lzma.h>

#include <vector>

const uint32_t LZMA_PACK_PRESET = ENTRY_LZMA_LEVEL | LZMA_PRESET_EXTREME;

namespace {

// The encoder's version in the header is for information only; fixed, so
// that an entry's bytes depend on its data alone.
const unsigned char VERSION[2] = {5, 4};
const size_t PROPERTIES = 5;
const size_t OUTPUT_PIECE = 256 * 1024;

// The filter for an entry of size bytes; false when the preset is unknown.
bool filterfor(uint64_t size, const lzmasettings& settings, lzma_options_lzma& options, lzma_filter filters[2])
{
    if (lzma_lzma_preset(&options, settings.preset)) return false;
    options.dict_size = settings.dictionary ? settings.dictionary : lzmadictionary(size, options.dict_size);
    // Without the marker the stream ends with the entry's last byte: the
    // extended filter, told not to write one.
    filters[0].id = settings.endmarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT;
    filters[0].options = &options;
    filters[1].id = LZMA_VLI_UNKNOWN;
    filters[1].options = nullptr;
    if (!settings.endmarker) {
        options.ext_flags = 0;
        lzma_set_ext_size(options, size);
    }
    return true;
}

} // namespace

uint32_t lzmadictionary(uint64_t size, uint32_t limit)
{
    uint64_t fitted = ENTRY_LZMA_SMALLEST_DICTIONARY;
    while (fitted < size) {
        // 2^n, then 3 * 2^(n-1): 4 KiB, 6 KiB, 8 KiB, 12 KiB, ...
        bool power = (fitted & (fitted - 1)) == 0;
        fitted = power ? fitted + fitted / 2 : fitted / 3 * 4;
    }
    return fitted < limit ? uint32_t(fitted) : limit;
}

uint64_t lzmaencodermemory(uint64_t size, const lzmasettings& settings)
{
    lzma_options_lzma options;
    lzma_filter filters[2];
    if (!filterfor(size, settings, options, filters)) return 0;
    uint64_t memory = lzma_raw_encoder_memusage(filters);
    return memory == UINT64_MAX ? 0 : memory;
}

struct lzmaencoder::state {
    lzma_stream stream = LZMA_STREAM_INIT;
    std::vector<unsigned char> piece = std::vector<unsigned char>(OUTPUT_PIECE);
    ~state() { lzma_end(&stream); }
};

lzmaencoder::lzmaencoder(uint64_t size, const lzmasettings& settings, const lzmaoutput& out)
    : self(std::make_unique<state>()), output(out)
{
    lzma_options_lzma options;
    lzma_filter filters[2];
    unsigned char header[4 + PROPERTIES] = {VERSION[0], VERSION[1], PROPERTIES, 0};
    ready = filterfor(size, settings, options, filters) && lzma_properties_encode(filters, header + 4) == LZMA_OK &&
            lzma_raw_encoder(&self->stream, filters) == LZMA_OK && output.take(output.context, header, sizeof header);
}

lzmaencoder::~lzmaencoder() = default;

bool lzmaencoder::encode(const unsigned char* data, size_t length, bool last)
{
    if (!ready) return false;
    lzma_stream& stream = self->stream;
    stream.next_in = data;
    stream.avail_in = length;
    lzma_action action = last ? LZMA_FINISH : LZMA_RUN;
    for (;;) {
        stream.next_out = self->piece.data();
        stream.avail_out = self->piece.size();
        lzma_ret result = lzma_code(&stream, action);
        size_t made = self->piece.size() - stream.avail_out;
        if ((result != LZMA_OK && result != LZMA_STREAM_END) ||
            (made > 0 && !output.take(output.context, self->piece.data(), made))) {
            ready = false;
            return false;
        }
        if (result == LZMA_STREAM_END) {
            ready = false;
            return true;
        }
        if (stream.avail_in == 0 && stream.avail_out > 0 && !last) return true;
    }
}

bool lzmaencode(const std::string& data, const lzmasettings& settings, std::string& out)
{
    out.clear();
    auto append = [](void* context, const unsigned char* bytes, size_t length) {
        static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), length);
        return true;
    };
    lzmaencoder encoder(data.size(), settings, lzmaoutput{&out, append});
    return encoder.started() && encoder.encode(reinterpret_cast<const unsigned char*>(data.data()), data.size(), true);
}
