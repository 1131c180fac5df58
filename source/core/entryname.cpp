#include "entryname.h"

#include "packagerules.h"

#include <cstring>
#include <string>

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool sameletters(const std::string& text, size_t length, const char* word)
{
    if (text.size() < length || strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (upper(text[i]) != word[i]) return false;
    return true;
}

bool isdevicename(const std::string& component)
{
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char* device : DEVICES)
        if (sameletters(base, base.size(), device)) return true;
    if (base.size() == 4 && (sameletters(base, 3, "COM") || sameletters(base, 3, "LPT"))) {
        unsigned char digit = (unsigned char)base[3];
        // Windows takes the superscripts one, two and three as digits here too;
        // code page 1252 and its like hold them at 0xB9, 0xB2 and 0xB3.
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

bool safecomponent(const std::string& component)
{
    if (component.empty() || component == "." || component == "..") return false;
    char last = component.back();
    if (last == '.' || last == ' ') return false;
    return !isdevicename(component);
}

} // namespace

bool safeentryname(const char* name, leadbytetest islead)
{
    return safeentrynameunder(name, PACKAGE_SETUP_TREE, islead);
}

bool safeentrynameunder(const char* name, const char* top, leadbytetest islead)
{
    if (!name) return false;
    size_t length = strnlen(name, ENTRY_NAME_SIZE);
    if (length == 0 || length >= size_t(ENTRY_NAME_SIZE)) return false;
    std::string component;
    size_t components = 0;
    for (size_t i = 0; i < length;) {
        unsigned char c = (unsigned char)name[i];
        if (islead && islead(c)) {
            // No double-byte code page has a second byte below 0x40. Such a
            // pair is no character at all, and a converter that read its
            // second byte on its own would see a colon, a dot, a separator or
            // a wildcard that this check let through as part of a character.
            if ((unsigned char)name[i + 1] < 0x40) return false;
            component.append(name + i, 2);
            i += 2;
            continue;
        }
        if (isseparator(char(c))) {
            if (!safecomponent(component)) return false;
            if (components == 0 && component != top) return false;
            ++components;
            component.clear();
        } else {
            if (c < 0x20 || strchr(":*?\"<>|", c)) return false;
            component.push_back(char(c));
        }
        ++i;
    }
    // The last component is the file itself, below top.
    return components > 0 && safecomponent(component);
}

bool endswithseparator(const char* name, leadbytetest islead)
{
    bool separator = false;
    for (size_t i = 0; name[i] != 0;) {
        if (islead && islead((unsigned char)name[i]) && name[i + 1] != 0) {
            separator = false;
            i += 2;
            continue;
        }
        separator = isseparator(name[i]);
        ++i;
    }
    return separator;
}
