#include "packwalk.h"

#include "namecodec.h"
#include "packagerules.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void appendutf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out.push_back(char16_t(c));
    } else {
        c -= 0x10000;
        out.push_back(char16_t(0xD800 + (c >> 10)));
        out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
    }
}

// Characters a Windows file name cannot hold.
bool windowsname(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || strchr("\\:*?\"<>|", c)) return false;
    return true;
}

struct listed {
    std::string name;
    std::u16string key;
    std::u16string exact;
};

struct opendir_ {
    dev_t device;
    ino_t inode;
    std::string path;
};

class walker {
public:
    walker(const std::string& source, int codepage, std::vector<packfile>& files, std::string& message)
        : source(source), codepage(codepage), files(files), message(message)
    {
    }

    bool codepagefault = false;

    bool walk(const std::string& path, const std::string& entry)
    {
        struct stat status;
        if (stat((source + "/" + path).c_str(), &status) != 0) return stop(walkstep::UNLISTABLE, path, strerror(errno));
        for (const opendir_& above : open)
            if (above.device == status.st_dev && above.inode == status.st_ino)
                return stop(walkstep::LOOP, path, above.path);
        std::vector<listed> names;
        if (!list(path, names)) return false;
        open.push_back({status.st_dev, status.st_ino, path});
        for (const listed& child : names) {
            std::string childpath = path + "/" + child.name;
            if (!windowsname(child.name)) return stop(walkstep::WINDOWS_NAME, childpath);
            std::string converted;
            if (!fromutf8(codepage, child.name, converted))
                return stop(walkstep::CODE_PAGE, childpath, std::to_string(codepage));
            std::string childentry = entry + "\\" + converted;
            // Links are followed: the package holds what they point to.
            if (stat((source + "/" + childpath).c_str(), &status) != 0)
                return stop(walkstep::UNLISTABLE, childpath, strerror(errno));
            if (S_ISDIR(status.st_mode)) {
                if (!walk(childpath, childentry)) return false;
            } else if (S_ISREG(status.st_mode)) {
                walkstep file{walkstep::FILE_ENTRY, childpath, uint64_t(status.st_size), std::string()};
                if (refused(file)) return false;
                int readable = ::open((source + "/" + childpath).c_str(), O_RDONLY);
                if (readable < 0) return stop(walkstep::UNLISTABLE, childpath, strerror(errno));
                close(readable);
                files.push_back({childpath, childentry, uint64_t(status.st_size)});
            } else {
                return stop(walkstep::NOT_FILE, childpath);
            }
        }
        open.pop_back();
        return true;
    }

private:
    // True, with message, when the packer refuses step (packagerules.h).
    bool refused(const walkstep& step)
    {
        int rule = brokenrule(step);
        if (!refuses(TOOL_PACKER, rule)) return false;
        message = step.path + ": " + refusalwhy(TOOL_PACKER, rule, step.again);
        codepagefault = rule == RULE_CODE_PAGE;
        return true;
    }

    // The walk stops where it meets anything but a file or a directory it
    // can read: the packer refuses them all. False.
    bool stop(walkstep::kindtype kind, const std::string& path, const std::string& again = std::string())
    {
        refused({kind, path, 0, again});
        return false;
    }

    bool list(const std::string& path, std::vector<listed>& names)
    {
        DIR* directory = opendir((source + "/" + path).c_str());
        if (!directory) return stop(walkstep::UNLISTABLE, path, strerror(errno));
        for (;;) {
            // Only readdir's own errno counts: the name checks set it too.
            errno = 0;
            dirent* found = readdir(directory);
            if (!found) break;
            std::string name = found->d_name;
            if (name == "." || name == "..") continue;
            listed item{name, {}, {}};
            if (!sortkeyof(name, item.key, item.exact)) {
                closedir(directory);
                return stop(walkstep::NOT_UTF8, path + "/" + name);
            }
            names.push_back(std::move(item));
        }
        int error = errno;
        closedir(directory);
        if (error != 0) return stop(walkstep::UNLISTABLE, path, strerror(error));
        std::sort(names.begin(), names.end(),
                  [](const listed& a, const listed& b) { return a.key != b.key ? a.key < b.key : a.exact < b.exact; });
        // Windows holds one file for names that differ only in case: the
        // later entry would replace the earlier when installed.
        for (size_t i = 1; i < names.size(); ++i)
            if (names[i].key == names[i - 1].key)
                return stop(walkstep::CASE_TWIN, path + "/" + names[i].name, path + "/" + names[i - 1].name);
        return true;
    }

    const std::string& source;
    int codepage;
    std::vector<packfile>& files;
    std::string& message;
    std::vector<opendir_> open;
};

} // namespace

bool sortkeyof(const std::string& name, std::u16string& key, std::u16string& exact)
{
    key.clear();
    exact.clear();
    std::u32string characters;
    if (!decodeutf8(name, characters)) return false;
    for (char32_t c : characters) {
        appendutf16(key, simpleuppercase(c));
        appendutf16(exact, c);
    }
    return true;
}

int walktree(const std::string& source, const std::string& top, int codepage, std::vector<packfile>& files,
             std::string& message)
{
    struct stat status;
    std::string root = source + "/" + top;
    if (lstat(root.c_str(), &status) != 0 && errno == ENOENT) return WALK_OK;
    walker walk(source, codepage, files, message);
    if (walk.walk(top, top)) return WALK_OK;
    return walk.codepagefault ? WALK_CODEPAGE : WALK_REFUSED;
}
