// The package contract's entry settings (packagerules.h) as minizip and
// zlib take them: every writer of a package starts its entries and its raw
// deflate streams here, so the builder's archives and the packer's are the
// same byte for byte. No platform header.
#pragma once

#include "packagerules.h"

#include <zip.h>
#include <zlib.h>

#include <cstring>

// Starts the entry name in archive: deflated at the package's level, no
// time stamps and no attributes. text: the data are what deflate classes as
// text (minizip marks that itself for data it deflates). raw 1: the data
// written are deflated already (startentrydeflate), 0: minizip deflates
// them. minizip's result.
inline int startpackageentry(zipFile archive, const char* name, bool text, int raw)
{
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.internal_fa = text ? 1 : 0;
    return zipOpenNewFileInZip2(archive, name, &info, nullptr, 0, nullptr, 0, nullptr, ENTRY_METHOD, ENTRY_LEVEL, raw);
}

// Starts a raw deflate stream exactly as minizip starts its own for an
// entry. deflateInit2's result.
inline int startentrydeflate(z_stream* stream)
{
    return deflateInit2(stream, ENTRY_LEVEL, Z_DEFLATED, -ENTRY_WINDOW_BITS, ENTRY_MEMORY_LEVEL, ENTRY_STRATEGY);
}
