#include "docfile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "encodingtable.h"
#include "resultrecord.h"
#include "textconverter.h"
#include "xmlplatform.h"
#include "xmlscan.h"

namespace {

struct bomrow {
    const unsigned char* bytes;
    int32_t length;
    const char16_t* encoding;
    uint32_t bit;
};

const unsigned char UTF8_MARK[] = {0xEF, 0xBB, 0xBF};
const unsigned char UTF16LE_MARK[] = {0xFF, 0xFE};
const unsigned char UTF16BE_MARK[] = {0xFE, 0xFF};

// Tried in this order: reading takes the first mark the file begins with,
// writing the first whose bit is set.
const bomrow bomtable[] = {
    {UTF8_MARK, 3, u"UTF-8", DOC_UTF8_BOM},
    {UTF16LE_MARK, 2, u"UTF-16LE", DOC_UTF16LE_BOM},
    {UTF16BE_MARK, 2, u"UTF-16BE", DOC_UTF16BE_BOM},
};

// Only this much of a file is decoded to look for a declared encoding.
const int32_t PREFIX_LIMIT = 1024;
const int32_t MESSAGE_LIMIT = 100;
const int32_t CODEPAGE_UTF16LE = 1200;

bool isUtf16(uint32_t flags) { return (flags & (DOC_UTF16LE_BOM | DOC_UTF16BE_BOM)) != 0; }

// Room for a converted text plus 1 % for the edits that usually follow a load.
int32_t withHeadroom(int32_t units) { return units + units / 100; }

// 32-bit code points ("UTF-32...") would be sized as bytes by both file
// paths, so such files are refused rather than misread or miswritten.
bool isRefusedEncoding(const std::u16string& encoding) { return codePageOf(encoding.c_str()) == CODEPAGE_UTF32_MEMORY; }

void recordRefusal(std::u16string& results, const std::u16string& encoding)
{
    appendResult(results, u"unsupported_encoding", encoding.c_str(), RESULT_DATA_ENCODING, -1, -1);
}

template <typename T>
int32_t removeZeroUnits(T* units, int32_t count)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (units[i] != 0) units[kept++] = units[i];
    }
    return count - kept;
}

} // namespace

docfile::docfile(uint32_t flags) : fileFlags(flags) {}

bool docfile::recordFileError()
{
    const int error = errno;
    char message[MESSAGE_LIMIT + 1] = {};
    std::strncpy(message, std::strerror(error), MESSAGE_LIMIT);
    // At most 100 bytes never make more than 100 units.
    char16_t units[MESSAGE_LIMIT] = {};
    const int32_t produced =
        platformToUtf16(0, message, static_cast<int32_t>(std::strlen(message)), units, MESSAGE_LIMIT);
    std::u16string text(units, static_cast<size_t>(produced));
    const size_t lineEnd = text.find_first_of(u"\r\n");
    if (lineEnd != std::u16string::npos) text.resize(lineEnd);
    appendResult(fileResults, u"file_error", text.c_str(), RESULT_DATA_MSG | RESULT_NUMBER_N, error, -1);
    return false;
}

bool docfile::closeFile()
{
    FILE* const closing = stream.release();
    if (closing != nullptr && fclose(closing) != 0) return recordFileError();
    return true;
}

bool docfile::openFile(const char16_t* path)
{
    fileResults.clear();
    const bool writing = (fileFlags & FILE_WRITE) != 0;
    stream.reset(openFileWide(path, writing ? "wb" : "rb"));
    if (stream == nullptr) return recordFileError();
    unitSize = 1;
    int32_t bomLength = 0;

    if (!writing) {
        if (fseek(stream.get(), 0, SEEK_END) != 0) return recordFileError();
        const long size = ftell(stream.get());
        if (size < 0 || fseek(stream.get(), 0, SEEK_SET) != 0) return recordFileError();
        fileSize = static_cast<int32_t>(size);
        // A file without a mark must not keep the mark of an earlier load,
        // whichever of the three it was.
        fileFlags &= ~DOC_BOM_BITS;
        const int32_t prefixLength = fileSize < PREFIX_LIMIT ? fileSize : PREFIX_LIMIT;
        if (prefixLength > 0) {
            unsigned char prefix[PREFIX_LIMIT];
            if (fread(prefix, 1, static_cast<size_t>(prefixLength), stream.get()) != static_cast<size_t>(prefixLength))
                return recordFileError();
            for (const bomrow& row : bomtable) {
                if (prefixLength >= row.length &&
                    std::memcmp(prefix, row.bytes, static_cast<size_t>(row.length)) == 0) {
                    fileFlags |= row.bit;
                    bomLength = row.length;
                    if (row.length == 2) unitSize = 2;
                    encoding = row.encoding;
                    break;
                }
            }
            if (bomLength < prefixLength && fseek(stream.get(), bomLength, SEEK_SET) != 0) return recordFileError();
            if (bomLength == 0) {
                std::vector<char16_t> decoded(static_cast<size_t>(prefixLength) + 1, 0);
                textconverter converter(u"UTF-8", prefix, prefixLength);
                converter.outUnits = prefixLength;
                converter.convert(decoded.data(), u"UTF-16");
                encoding = declaredEncoding(decoded.data());
                if (encoding.empty() && prefix[0] == '<') encoding = u"UTF-8";
            }
        }
    } else {
        for (const bomrow& row : bomtable) {
            if ((fileFlags & row.bit) == 0) continue;
            bomLength = row.length;
            if (row.length == 2) unitSize = 2;
            encoding = row.encoding;
            if (fwrite(row.bytes, 1, static_cast<size_t>(row.length), stream.get()) != static_cast<size_t>(row.length))
                return recordFileError();
            break;
        }
    }

    filePos = bomLength;
    if (bomLength > 0) appendResult(fileResults, u"bom", nullptr, 0, -1, -1);
    return true;
}

bool docfile::readUnits(void* buffer)
{
    const size_t got = fread(buffer, 1, static_cast<size_t>(opBytes), stream.get());
    opUnits = opBytes / unitSize;
    if (got != static_cast<size_t>(opBytes)) return recordFileError();
    filePos += opBytes;
    appendResult(fileResults, u"read", encoding.c_str(), RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, opUnits, -1);

    const int32_t removed = unitSize == 2 ? removeZeroUnits(static_cast<char16_t*>(buffer), opUnits)
                                          : removeZeroUnits(static_cast<unsigned char*>(buffer), opUnits);
    if (removed > 0) {
        appendResult(fileResults, u"nulls_removed", nullptr, RESULT_NUMBER_COUNT, removed, -1);
        opUnits -= removed;
    }
    if (unitSize > 1 && (fileFlags & DOC_UTF16BE_BOM) != 0) {
        swapUnitBytes(static_cast<char16_t*>(buffer), opUnits);
        appendResult(fileResults, u"endian_swap", nullptr, 0, -1, -1);
    }
    return true;
}

bool docfile::readText(std::u16string& text)
{
    fileResults.clear();
    if (opBytes == 0) {
        appendResult(fileResults, u"read", encoding.c_str(), RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, 0, -1);
        return true;
    }
    if (isRefusedEncoding(encoding)) {
        recordRefusal(fileResults, encoding);
        return false;
    }

    if (isUtf16(fileFlags)) {
        const int32_t room = withHeadroom(opBytes / 2);
        std::vector<char16_t> buffer(static_cast<size_t>(room) + 1);
        text.reserve(static_cast<size_t>(room));
        if (!readUnits(buffer.data())) return false;
        text.assign(buffer.data(), static_cast<size_t>(opUnits));
        return true;
    }

    std::vector<unsigned char> buffer(static_cast<size_t>(opBytes));
    if (!readUnits(buffer.data())) return false;
    if (encoding.empty()) {
        if (checkUtf8(buffer.data(), opUnits)) {
            encoding = u"UTF-8";
            appendResult(fileResults, u"read", u"UTF-8", RESULT_UPDATE | RESULT_DATA_ENCODING, -1, -1);
        }
        appendResult(fileResults, u"utf8_detection", nullptr, 0, -1, -1);
    }
    // A declared "UTF-16" without a mark names 16-bit units: the bytes hold
    // half as many, and the converter must not read past them.
    const int32_t sourceUnits = codePageOf(encoding.c_str()) == CODEPAGE_UTF16LE ? opUnits / 2 : opUnits;
    textconverter converter(encoding.c_str(), buffer.data(), sourceUnits);
    const int32_t n = converter.convert(nullptr, u"UTF-16");
    const int32_t room = withHeadroom(n);
    std::vector<char16_t> units(static_cast<size_t>(room) + 1);
    text.reserve(static_cast<size_t>(room));
    if (n > 0) converter.convert(units.data(), nullptr);
    text.assign(units.data(), static_cast<size_t>(n));
    appendResult(fileResults, u"converted_to", u"UTF-16", RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, n, -1);
    return true;
}

bool docfile::writeUnits(void* buffer, const char16_t* source)
{
    opBytes = unitSize * opUnits;
    const void* data = source != nullptr ? static_cast<const void*>(source) : buffer;
    std::vector<char16_t> swapped;
    if ((fileFlags & DOC_UTF16BE_BOM) != 0) {
        // The document's own text is never altered: swap a copy.
        const char16_t* units = source != nullptr ? source : static_cast<const char16_t*>(buffer);
        swapped.assign(units, units + opUnits);
        swapUnitBytes(swapped.data(), opUnits);
        data = swapped.data();
        appendResult(fileResults, u"endian_swap", nullptr, 0, -1, -1);
    }
    const bool written =
        opBytes > 0 && fwrite(data, 1, static_cast<size_t>(opBytes), stream.get()) == static_cast<size_t>(opBytes);
    if (!written) return recordFileError();
    filePos += opBytes;
    appendResult(fileResults, u"write", encoding.c_str(), RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, opUnits, -1);
    return true;
}

bool docfile::writeText(const char16_t* text, int32_t length)
{
    fileResults.clear();
    if (length == 0) {
        appendResult(fileResults, u"write", encoding.c_str(), RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, 0, -1);
        return true;
    }
    if (isUtf16(fileFlags)) {
        opUnits = length;
        return writeUnits(nullptr, text);
    }
    textconverter converter(u"UTF-16", text, length);
    const int32_t n = converter.convert(nullptr, encoding.c_str());
    opUnits = n;
    std::vector<unsigned char> bytes(static_cast<size_t>(n));
    if (n > 0) converter.convert(bytes.data(), nullptr);
    appendResult(fileResults, u"converted_from", u"UTF-16", RESULT_DATA_ENCODING | RESULT_NUMBER_LENGTH, length, -1);
    if (converter.lossy) appendResult(fileResults, u"conversion_loss", nullptr, 0, -1, -1);
    return writeUnits(bytes.data(), nullptr);
}

bool readTextFile(const char16_t* path, std::u16string& text, std::u16string& results, uint32_t* flags)
{
    docfile file((flags != nullptr ? *flags : 0) | FILE_READ);
    bool ok = file.openFile(path);
    results = file.fileResults;
    text.clear();
    if (!ok) return false;
    file.opBytes = file.fileSize - file.filePos;
    ok = file.readText(text);
    file.closeFile();
    file.fileFlags &= ~FILE_MODE_BITS;
    results += file.fileResults;
    if (flags != nullptr) *flags = file.fileFlags;
    return ok;
}

bool writeTextFile(const char16_t* path, const std::u16string& text, std::u16string& results, uint32_t* flags)
{
    const uint32_t callerFlags = flags != nullptr ? *flags : 0;
    // Refused before opening, so that an existing file is not emptied.
    if ((callerFlags & DOC_BOM_BITS) == 0 && !text.empty()) {
        const std::u16string declared = declaredEncoding(text.c_str());
        if (isRefusedEncoding(declared)) {
            results.clear();
            recordRefusal(results, declared);
            return false;
        }
    }

    docfile file(callerFlags | FILE_WRITE);
    bool ok = file.openFile(path);
    results = file.fileResults;
    if (!ok) return false;
    if (file.encoding.empty() && !text.empty()) {
        file.encoding = declaredEncoding(text.c_str());
        if (file.encoding.empty()) file.encoding = u"UTF-8";
    }
    ok = file.writeText(text.data(), static_cast<int32_t>(text.size()));
    file.closeFile();
    file.fileFlags &= ~FILE_MODE_BITS;
    results += file.fileResults;
    if (flags != nullptr) *flags = file.fileFlags;
    return ok;
}

std::u16string declaredEncoding(const char16_t* text)
{
    tokencursor cursor;
    cursor.text = text;
    cursor.flags = DOC_IGNORE_CASE;
    bool htmlSeen = false;
    for (;;) {
        nodetoken node;
        const int32_t kind = scanNode(cursor, node);
        if (kind < 0) return std::u16string();
        const int32_t after = cursor.next;

        if (kind == KIND_PI && node.start == 0) {
            cursor.next = node.start + 2;
            if (cursor.nextWord() && cursor.tokenEquals(u"xml")) {
                cursor.next = node.start + 2;
                if (cursor.locateAttribute(u"encoding", 0, nullptr)) return cursor.tokenText();
                return std::u16string();
            }
        } else if (kind == KIND_END_TAG) {
            cursor.next = node.start + 2;
            if (cursor.nextWord() && cursor.tokenEquals(u"head")) return std::u16string();
        } else if (kind == KIND_ELEMENT) {
            cursor.next = node.start + 1;
            cursor.nextWord();
            if (!htmlSeen) {
                if (!cursor.tokenEquals(u"html")) return std::u16string();
                htmlSeen = true;
            } else if (cursor.tokenEquals(u"meta")) {
                cursor.next = node.start + 1;
                if (cursor.locateAttribute(u"http-equiv", 0, nullptr) && cursor.tokenEquals(u"Content-Type")) {
                    cursor.next = node.start + 1;
                    if (!cursor.locateAttribute(u"content", 0, nullptr)) return std::u16string();
                    const int32_t valueEnd = cursor.tokenEnd + 1;
                    cursor.next = cursor.tokenStart;
                    while (cursor.next < valueEnd && cursor.nextWord()) {
                        if (!cursor.tokenEquals(u"charset")) continue;
                        if (cursor.nextWord() && cursor.tokenEquals(u"=") && cursor.nextWord())
                            return cursor.tokenText();
                    }
                    return std::u16string();
                }
            }
        }
        cursor.next = after;
    }
}
