// Raw deflate at the level and parameters the writer uses (level 9, window
// bits 15, memory level 8, default strategy), for tests that make archives by
// hand; header-only, for the native and the Windows tests alike.
#pragma once

#include <zlib.h>

#include <string>

inline std::string rawdeflate(const std::string& data)
{
    z_stream s = {};
    deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, uLong(data.size())) + 16, '\0');
    s.next_in = (Bytef*)data.data();
    s.avail_in = uInt(data.size());
    s.next_out = (Bytef*)&out[0];
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}
