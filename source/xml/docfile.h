// Reading and writing a document's text file in the file's own encoding: the
// byte-order mark, else a declared encoding, else a UTF-8 test, else the ANSI
// code page. Every step leaves a result record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Flag bits of the document's flags word that record the byte-order mark of
// the last file read (and decide the mark of the next file written).
constexpr uint32_t DOC_UTF16LE_BOM = 0x01;
constexpr uint32_t DOC_UTF8_BOM = 0x04;
constexpr uint32_t DOC_UTF16BE_BOM = 0x80;
// Open modes of a docfile; never handed back to the caller.
constexpr uint32_t FILE_READ = 0x10;
constexpr uint32_t FILE_WRITE = 0x20;
// The bits cleared before a docfile's flags word is handed back.
constexpr uint32_t FILE_MODE_BITS = 0x70;
// All three byte-order-mark bits.
constexpr uint32_t DOC_BOM_BITS = DOC_UTF16LE_BOM | DOC_UTF8_BOM | DOC_UTF16BE_BOM;

// Closes a stream a docfile still holds when it goes; closeFile closes it itself to see the result.
struct streamcloser {
    // Closes stream, ignoring the result.
    void operator()(FILE* stream) const { fclose(stream); }
};

// The state of one read or one write of a document file.
class docfile {
public:
    // A docfile with no stream and fileFlags = flags.
    explicit docfile(uint32_t flags);
    docfile(const docfile&) = delete;
    docfile& operator=(const docfile&) = delete;

    // Opens path to read (finding mark and encoding) or write (writing the mark); false on failure.
    bool openFile(const char16_t* path);
    // Reads and decodes the opBytes bytes after the mark into text; false when unreadable or refused.
    bool readText(std::u16string& text);
    // Reads opBytes bytes into buffer, drops zero units, swaps big-endian ones; false on a failed read.
    bool readUnits(void* buffer);
    // Encodes and writes length units of text; false when the write fails or writes nothing.
    bool writeText(const char16_t* text, int32_t length);
    // Writes opUnits units of source (else buffer), swapped in a copy for big-endian; false on failure.
    bool writeUnits(void* buffer, const char16_t* source);
    // Records file_error with errno and its message; returns false.
    bool recordFileError();
    // Closes the stream; returns false (recording file_error) when that fails.
    bool closeFile();

    // The open file, closed when the docfile goes if an operation left it open; null before opening and
    // after closing.
    std::unique_ptr<FILE, streamcloser> stream;
    // The caller's flags with the open mode and the mark found or written.
    uint32_t fileFlags;
    // Byte count of the read or write in progress.
    int32_t opBytes = 0;
    // Size of the file when reading; 0 otherwise.
    int32_t fileSize = 0;
    // Bytes consumed or produced so far, mark included.
    int32_t filePos = 0;
    // 1, or 2 for a UTF-16 file with a mark.
    int32_t unitSize = 1;
    // Unit count of the read or write in progress.
    int32_t opUnits = 0;
    // Records of the operation in progress.
    std::u16string fileResults;
    // Name of the file's encoding; empty means the ANSI code page.
    std::u16string encoding;
};

// Reads the file at path into text, results and (once opened) *flags; returns whether it was read.
bool readTextFile(const char16_t* path, std::u16string& text, std::u16string& results, uint32_t* flags);

// Writes text to path in the encoding of *flags' mark, else the declared one, else UTF-8; returns success.
bool writeTextFile(const char16_t* path, const std::u16string& text, std::u16string& results, uint32_t* flags);

// Returns the encoding named by text's XML declaration or HTML meta element, or the empty string.
std::u16string declaredEncoding(const char16_t* text);
