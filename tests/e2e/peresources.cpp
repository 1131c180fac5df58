#include "peresources.h"

#include "bytes.h"
#include "handles.h"

#include <algorithm>

namespace peresources {

namespace {

modulehandle loadasdata(const std::wstring& file)
{
    return modulehandle(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

BOOL CALLBACK collectname(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    if (IS_INTRESOURCE(name)) reinterpret_cast<std::vector<WORD>*>(param)->push_back(WORD(uintptr_t(name)));
    return TRUE;
}

BOOL CALLBACK collectlanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

} // namespace

bool read(const std::wstring& file, LPCWSTR type, WORD id, WORD language, std::string& out)
{
    modulehandle module = loadasdata(file);
    if (!module) return false;
    HRSRC found = FindResourceExW(module.get(), type, MAKEINTRESOURCEW(id), language);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module.get(), found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return false;
    out.assign(static_cast<const char*>(bytes), SizeofResource(module.get(), found));
    return true;
}

std::vector<WORD> ids(const std::wstring& file, LPCWSTR type)
{
    std::vector<WORD> found;
    modulehandle module = loadasdata(file);
    if (module) EnumResourceNamesW(module.get(), type, collectname, LONG_PTR(&found));
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<WORD> languages(const std::wstring& file, LPCWSTR type, WORD id)
{
    std::vector<WORD> found;
    modulehandle module = loadasdata(file);
    if (module) EnumResourceLanguagesW(module.get(), type, MAKEINTRESOURCEW(id), collectlanguage, LONG_PTR(&found));
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> iconimages(const std::string& ico)
{
    std::vector<std::string> images;
    if (ico.size() < 6) return images;
    size_t count = size_t((unsigned char)ico[4]) | size_t((unsigned char)ico[5]) << 8;
    if (ico.size() < 6 + 16 * count) return images;
    for (size_t i = 0; i < count; ++i) {
        uint32_t size = get32(ico, 6 + 16 * i + 8);
        uint32_t offset = get32(ico, 6 + 16 * i + 12);
        if (uint64_t(offset) + size > ico.size()) return {};
        images.push_back(ico.substr(offset, size));
    }
    return images;
}

} // namespace peresources
