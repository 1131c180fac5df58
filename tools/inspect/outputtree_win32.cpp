#include "outputtree.h"

#include "handles.h"

#include <windows.h>

namespace {

std::wstring widen(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

bool islinkordevice(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
}

} // namespace

struct outputtree::state {
    std::wstring root;
    filehandle file;
    std::wstring path;
    std::wstring temporary;
};

outputtree::outputtree() = default;

outputtree::~outputtree()
{
    if (self) finish(false);
}

bool outputtree::open(const std::string& root)
{
    if (!self) self = std::make_unique<state>();
    self->root = widen(root);
    CreateDirectoryW(self->root.c_str(), nullptr);
    DWORD attributes = GetFileAttributesW(self->root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = "cannot create " + root;
        return false;
    }
    return true;
}

bool outputtree::create(const std::vector<std::string>& components)
{
    finish(false);
    if (!self || self->root.empty() || components.empty()) return false;
    std::wstring path = self->root;
    std::string shown;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        path += L"\\" + widen(components[i]);
        shown += components[i] + "\\";
        CreateDirectoryW(path.c_str(), nullptr);
        // Checked after creation: a junction or link in the tree's place is
        // never entered.
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            islinkordevice(attributes)) {
            reason = shown + " is a link or not a directory";
            return false;
        }
    }
    self->path = path + L"\\" + widen(components.back());
    for (int attempt = 0; attempt < 100 && !self->file; ++attempt) {
        self->temporary =
            path + L"\\." + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(attempt) + L".part";
        // CREATE_NEW never opens an existing file or the target of a link.
        self->file.reset(CreateFileW(self->temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!self->file && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (!self->file) {
        reason = "cannot create " + shown + components.back();
        return false;
    }
    return true;
}

bool outputtree::write(const unsigned char* bytes, size_t length)
{
    if (!self || !self->file) return false;
    while (length > 0) {
        DWORD piece = length > 0x100000 ? 0x100000 : DWORD(length);
        DWORD wrote = 0;
        if (!WriteFile(self->file.get(), bytes, piece, &wrote, nullptr) || wrote == 0) {
            reason = "write failed";
            return false;
        }
        bytes += wrote;
        length -= wrote;
    }
    return true;
}

bool outputtree::finish(bool keep)
{
    if (!self || !self->file) return false;
    // Closed here, not by the owner: a failed close is a failed write.
    bool kept = CloseHandle(self->file.release()) != 0 && keep;
    // A link standing under the name is replaced by the rename, not followed.
    if (kept && !MoveFileExW(self->temporary.c_str(), self->path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        reason = "cannot replace the file";
        kept = false;
    }
    if (!kept) DeleteFileW(self->temporary.c_str());
    return kept;
}
