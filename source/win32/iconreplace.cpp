#include "iconreplace.h"

#include "handles.h"
#include "icofile.h"
#include "logline.h"

#include <cstdio>
#include <vector>

namespace {

const WORD ICON_LANGUAGE = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

bool readexact(HANDLE file, unsigned char* out, DWORD length)
{
    DWORD got = 0;
    return ReadFile(file, out, length, &got, nullptr) && got == length;
}

bool readat(HANDLE file, uint32_t offset, unsigned char* out, DWORD length)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && readexact(file, out, length);
}

// The directory of the icon file, or false when it is not a complete icon
// file. Nothing is taken from a header or entry that was not read whole.
bool readiconfile(HANDLE file, std::vector<iconentry>& entries)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return false;
    uint64_t filesize = uint64_t(size.QuadPart);

    unsigned char header[ICON_HEADER_SIZE];
    size_t available = filesize < ICON_HEADER_SIZE ? size_t(filesize) : ICON_HEADER_SIZE;
    std::vector<unsigned char> directory;
    if (available == ICON_HEADER_SIZE && readat(file, 0, header, ICON_HEADER_SIZE)) {
        size_t wanted = icondirectorysize(iconcount(header));
        if (wanted > filesize) wanted = size_t(filesize);
        directory.resize(wanted);
        if (!readat(file, 0, directory.data(), DWORD(wanted))) directory.clear();
    }
    int result = readicondirectory(directory.data(), directory.size(), filesize, entries);
    if (result != ICON_OK) {
        plainline("IconFile is not a complete icon file (%s)!\n", iconresulttext(result));
        return false;
    }
    return true;
}

} // namespace

bool replaceicon(const wchar_t* iconfile, const wchar_t* executable)
{
    filehandle icon(CreateFileW(iconfile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!icon) {
        plainline("Open IconFile Failed!\n");
        return false;
    }
    std::vector<iconentry> entries;
    if (!readiconfile(icon.get(), entries)) return false;

    // The icon groups are kept: they already name identifiers 1..n. No record
    // under identifier 32440 is written, since nothing reads it.
    resourceupdate update(BeginUpdateResourceW(executable, FALSE));
    if (!update) return true;
    // One image is held at a time (the filler copies reuse the last); the
    // directory check has bounded what the update itself keeps.
    std::vector<unsigned char> image;
    size_t loaded = entries.size();
    for (const iconslot& slot : iconslots(uint16_t(entries.size()))) {
        if (slot.entry != loaded) {
            const iconentry& entry = entries[slot.entry];
            image.resize(entry.size);
            if (!readat(icon.get(), entry.offset, image.data(), entry.size)) {
                plainline("IconFile could not be read!\n");
                return false; // the update is discarded: the executable stays as it was
            }
            loaded = slot.entry;
        }
        if (!UpdateResourceW(update.get(), RT_ICON, MAKEINTRESOURCEW(slot.id), ICON_LANGUAGE, image.data(),
                             DWORD(image.size())))
            return true; // the update is discarded: all images or none
    }
    EndUpdateResourceW(update.release(), FALSE);
    return true;
}
