// Writes a ZIP archive the way the builder's archive writer does (minizip,
// the package's entry settings of packagerules.h), with the files deflated
// on every core and written in walk order. Or, asked for LZMA, the same
// archive with each entry LZMA (packagerules.h's LZMA settings,
// lzmaencoder.h) where that makes the file smaller and deflate where it does
// not, written by zipwriter.h, which minizip's writer cannot.
//
// Each file is deflated as one stream in pieces; zlib's output does not
// depend on how its input is divided, so an entry has the same bytes the
// builder writes, whether it compressed the file whole in memory or streamed
// it. Memory stays bounded whatever the sizes: compressed data waiting to be
// written are held up to a budget, and a file whose compressed data outgrow
// their share continues in a temporary file.
#pragma once

#include "packwalk.h"

#include <string>
#include <vector>

// Compressed data waiting for the writer are held up to this many bytes
// (besides the entry being written)...
const uint64_t ARCHIVE_QUEUE_LIMIT = 64u << 20;
// ...and at most this much of one entry; the rest goes to a temporary file.
const uint64_t ARCHIVE_ENTRY_MEMORY = 4u << 20;
// LZMA encoders running at once take at most this much memory together
// (liblzma's own figure; up to about 700 MiB for an entry of 48 MiB or
// more), besides the one that encodes the writer's next entry.
const uint64_t ARCHIVE_ENCODER_MEMORY = 1u << 30;

// The memory bounds of one archive's writing.
struct archivelimits {
    uint64_t queue = ARCHIVE_QUEUE_LIMIT;
    uint64_t entry = ARCHIVE_ENTRY_MEMORY;
    uint64_t encoders = ARCHIVE_ENCODER_MEMORY;
};

// How the entries are compressed.
enum archivemethod { ARCHIVE_DEFLATE, ARCHIVE_LZMA };

// Writes files (below source) to the archive archivepath, in the order
// given, compressing on threads threads besides the writer (0: the writer
// alone). False with message naming the file or the archive on failure; the
// archive is then incomplete and the caller removes it.
bool writearchive(const std::string& archivepath, const std::string& source, const std::vector<packfile>& files,
                  unsigned threads, std::string& message, const archivelimits& limits = archivelimits(),
                  archivemethod method = ARCHIVE_DEFLATE);
