#include "outputtree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

struct outputtree::state {
    int root = -1;
    int dir = -1; // directory of the started file
    int file = -1;
    std::string name;
    std::string temporary;
};

outputtree::~outputtree()
{
    if (!self) return;
    finish(false);
    if (self->root >= 0) close(self->root);
    delete self;
}

bool outputtree::open(const std::string& root)
{
    if (!self) self = new state;
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
        reason = "cannot create " + root + ": " + strerror(errno);
        return false;
    }
    self->root = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (self->root < 0) reason = "cannot open " + root + ": " + strerror(errno);
    return self->root >= 0;
}

bool outputtree::create(const std::vector<std::string>& components)
{
    finish(false);
    if (!self || self->root < 0 || components.empty()) return false;
    int dir = dup(self->root);
    std::string path;
    for (size_t i = 0; i + 1 < components.size() && dir >= 0; ++i) {
        const std::string& part = components[i];
        path += part + "/";
        mkdirat(dir, part.c_str(), 0777);
        // O_NOFOLLOW: a link in the tree's place is never entered.
        int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) reason = path + " is a link or not a directory";
        close(dir);
        dir = next;
    }
    if (dir < 0) return false;
    self->dir = dir;
    self->name = components.back();
    for (int attempt = 0; attempt < 100 && self->file < 0; ++attempt) {
        self->temporary =
            "." + self->name.substr(0, 200) + ".part" + std::to_string(getpid()) + "_" + std::to_string(attempt);
        self->file = openat(dir, self->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (self->file < 0 && errno != EEXIST) break;
    }
    if (self->file < 0) {
        reason = "cannot create " + path + self->name + ": " + strerror(errno);
        close(dir);
        self->dir = -1;
        return false;
    }
    return true;
}

bool outputtree::write(const unsigned char* bytes, size_t length)
{
    if (!self || self->file < 0) return false;
    while (length > 0) {
        ssize_t wrote = ::write(self->file, bytes, length);
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
    if (!self || self->file < 0) return false;
    bool kept = close(self->file) == 0 && keep;
    self->file = -1;
    // renameat replaces whatever stands under the name, a link included,
    // without following it; a directory there makes it fail.
    if (kept && renameat(self->dir, self->temporary.c_str(), self->dir, self->name.c_str()) != 0) {
        reason = "cannot replace " + self->name + ": " + strerror(errno);
        kept = false;
    }
    if (!kept) unlinkat(self->dir, self->temporary.c_str(), 0);
    close(self->dir);
    self->dir = -1;
    return kept;
}
