#include "packagerules.h"

#include <cstring>

namespace {

// Each rule and the text each tool gives when it refuses what breaks it;
// null where the tool does not apply the rule. The builder writes
// "<path> <text>!", the packer "pack: <path>: <text>", the inspector
// "<archive>: <name>: <text><other name>".
struct rulerow {
    int rule;
    const char* builder;
    const char* packer;
    const char* inspector;
};

const rulerow RULES[] = {
    {RULE_LOOP, "leads back to %s: a tree with a loop cannot be packed",
     "leads back to %s: a tree with a loop cannot be packed", nullptr},
    {RULE_CASE_TWIN, "differs only in case from %s: a package cannot hold both",
     "differs only in case from %s: Windows holds one file for both", "differs only in case from "},
    // Not the inspector: an entry of any size installs, its size taken from 64 bits.
    {RULE_FILE_SIZE, "is 2 GiB or larger: a package cannot hold it", "is 2 GiB or larger: a package cannot hold it",
     nullptr},
    // Not the builder's tree check: its archive writer says "Cannot get
    // handle for file", and the archive then fails the build.
    {RULE_UNREADABLE, nullptr, "%s", nullptr},
    {RULE_NOT_FILE, nullptr, "is neither a file nor a directory", nullptr},
    {RULE_WINDOWS_NAME, nullptr, "has a character Windows file names cannot hold", nullptr},
    {RULE_NOT_UTF8, nullptr, "is not named in UTF-8", nullptr},
    {RULE_CODE_PAGE, nullptr, "code page %s cannot hold this name",
     "not a name in code page %s: not written as listed"},
    // The builder packs a missing tree as an archive without entries.
    {RULE_NO_SETUP_TREE, nullptr, "no setup tree", nullptr},
    {RULE_NO_SETUP_PROGRAM, nullptr, "no setup program", "%s missing: the installer has nothing to start"},
    {RULE_PACKAGE_SIZE, "would reach 2 GiB: not written", "the package would reach 2 GiB", nullptr},
    // The walks cannot meet these: a directory holds a name once, and
    // nothing is both a file and a directory.
    {RULE_UNSAFE_NAME, nullptr, nullptr, "unsafe name: the installer refuses it"},
    {RULE_NAMED_TWICE, nullptr, nullptr, "named twice: it replaces the earlier "},
    {RULE_FILE_ON_PATH, nullptr, nullptr, "needs a directory where a file stands: "},
    {RULE_DIRECTORY_NEEDED, nullptr, nullptr, "stands where a directory is needed by "},
};

} // namespace

const char* ruletext(int tool, int rule)
{
    for (const rulerow& row : RULES) {
        if (row.rule != rule) continue;
        if (tool == TOOL_BUILDER) return row.builder;
        if (tool == TOOL_PACKER) return row.packer;
        if (tool == TOOL_INSPECTOR) return row.inspector;
    }
    return nullptr;
}

int brokenrule(const walkstep& step)
{
    switch (step.kind) {
    case walkstep::FILE_ENTRY: return step.size >= PACKAGE_SIZE_LIMIT ? RULE_FILE_SIZE : RULE_NONE;
    case walkstep::DIRECTORY_END: return RULE_NONE;
    case walkstep::UNLISTABLE: return RULE_UNREADABLE;
    case walkstep::LOOP: return RULE_LOOP;
    case walkstep::CASE_TWIN: return RULE_CASE_TWIN;
    case walkstep::NOT_FILE: return RULE_NOT_FILE;
    case walkstep::WINDOWS_NAME: return RULE_WINDOWS_NAME;
    case walkstep::NOT_UTF8: return RULE_NOT_UTF8;
    case walkstep::CODE_PAGE: return RULE_CODE_PAGE;
    }
    return RULE_NONE;
}

bool refuses(int tool, int rule) { return ruletext(tool, rule) != nullptr; }

const walkstep* firstrefused(const std::vector<walkstep>& steps, int tool)
{
    for (const walkstep& step : steps)
        if (refuses(tool, brokenrule(step))) return &step;
    return nullptr;
}

std::string refusalwhy(int tool, int rule, const std::string& detail)
{
    const char* text = ruletext(tool, rule);
    if (!text) return std::string();
    std::string why = text;
    size_t at = why.find("%s");
    if (at != std::string::npos) why.replace(at, 2, detail);
    return why;
}

bool issetupprogram(const std::string& entryname)
{
    const size_t length = strlen(PACKAGE_SETUP_PROGRAM);
    if (entryname.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = entryname[i];
        char wanted = PACKAGE_SETUP_PROGRAM[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (wanted >= 'A' && wanted <= 'Z') wanted = char(wanted - 'A' + 'a');
        if (c == '/') c = '\\';
        if (c != wanted) return false;
    }
    return true;
}
