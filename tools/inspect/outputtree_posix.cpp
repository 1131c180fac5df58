#include "outputtree.h"

#include "owners.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct descriptortraits {
    using handle = int;
    static int invalid() { return -1; }
    static void close(int descriptor) { ::close(descriptor); }
};
// A file descriptor from open, openat or dup.
using descriptor = uniqueresource<descriptortraits>;

} // namespace

struct outputtree::state {
    descriptor root;
    descriptor dir; // directory of the started file
    descriptor file;
    std::string name;
    std::string temporary;
};

outputtree::outputtree() = default;

outputtree::~outputtree()
{
    if (self) finish(false);
}

bool outputtree::open(const std::string& root)
{
    if (!self) self = std::make_unique<state>();
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
        reason = "cannot create " + root + ": " + strerror(errno);
        return false;
    }
    self->root.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!self->root) reason = "cannot open " + root + ": " + strerror(errno);
    return bool(self->root);
}

bool outputtree::create(const std::vector<std::string>& components)
{
    finish(false);
    if (!self || !self->root || components.empty()) return false;
    descriptor dir(dup(self->root.get()));
    std::string path;
    for (size_t i = 0; i + 1 < components.size() && dir; ++i) {
        const std::string& part = components[i];
        path += part + "/";
        mkdirat(dir.get(), part.c_str(), 0777);
        // O_NOFOLLOW: a link in the tree's place is never entered.
        descriptor next(openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) reason = path + " is a link or not a directory";
        dir = std::move(next);
    }
    if (!dir) return false;
    self->dir = std::move(dir);
    self->name = components.back();
    for (int attempt = 0; attempt < 100 && !self->file; ++attempt) {
        self->temporary =
            "." + self->name.substr(0, 200) + ".part" + std::to_string(getpid()) + "_" + std::to_string(attempt);
        self->file.reset(openat(self->dir.get(), self->temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!self->file && errno != EEXIST) break;
    }
    if (!self->file) {
        reason = "cannot create " + path + self->name + ": " + strerror(errno);
        self->dir.reset();
        return false;
    }
    return true;
}

bool outputtree::write(const unsigned char* bytes, size_t length)
{
    if (!self || !self->file) return false;
    while (length > 0) {
        ssize_t wrote = ::write(self->file.get(), bytes, length);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            reason = std::string("write failed: ") + strerror(errno);
            return false;
        }
        bytes += wrote;
        length -= size_t(wrote);
    }
    return true;
}

bool outputtree::finish(bool keep)
{
    if (!self || !self->file) return false;
    // Closed here, not by the owner: a failed close is a failed write.
    bool kept = close(self->file.release()) == 0 && keep;
    // renameat replaces whatever stands under the name, a link included,
    // without following it; a directory there makes it fail.
    if (kept && renameat(self->dir.get(), self->temporary.c_str(), self->dir.get(), self->name.c_str()) != 0) {
        reason = "cannot replace " + self->name + ": " + strerror(errno);
        kept = false;
    }
    if (!kept) unlinkat(self->dir.get(), self->temporary.c_str(), 0);
    self->dir.reset();
    return kept;
}
