// Reading the resources of an executable file back, loaded as data (never
// run), and the images of an icon file, read independently of the program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace peresources {

// The bytes of resource type/id in the given language; false when absent.
bool read(const std::wstring& file, LPCWSTR type, WORD id, WORD language, std::string& out);
// The integer identifiers of the resources of type, ascending.
std::vector<WORD> ids(const std::wstring& file, LPCWSTR type);
// The languages that resource type/id exists in, ascending.
std::vector<WORD> languages(const std::wstring& file, LPCWSTR type, WORD id);
// Each image of an .ico file's bytes, in directory order; empty when the
// file is not a complete icon file.
std::vector<std::string> iconimages(const std::string& ico);

} // namespace peresources
