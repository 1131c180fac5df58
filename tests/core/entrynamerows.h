// Entry names and whether the installer may write them below its workspace:
// one table for the rule itself (checked natively, under the sanitizers) and
// for the extraction tests that carry the unsafe names in real archives.
#pragma once

#include <ostream>
#include <string>

namespace entrynametest {

struct namerow {
    const char* label;
    std::string name;
    bool doublebyte; // read with the lead bytes of code page 932
    bool safe;
};

inline std::ostream& operator<<(std::ostream& os, const namerow& r) { return os << r.label; }

// Lead bytes of code page 932, whose second bytes include the separator 0x5C.
inline bool lead932(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

const namerow NAME_ROWS[] = {
    {"plain", "setup\\rEdizo.exe", false, true},
    {"nested", "setup\\a\\b\\c.txt", false, true},
    {"forward_slashes", "setup/a/b.txt", false, true},
    {"dots_inside", "setup\\a..b\\.hidden", false, true},
    {"longest", "setup\\" + std::string(200, 'a') + "\\" + std::string(200, 'b') + "\\" + std::string(103, 'c'), false,
     true},
    {"too_long", "setup\\" + std::string(200, 'a') + "\\" + std::string(200, 'b') + "\\" + std::string(104, 'c'), false,
     false},
    {"parent", "setup\\..\\evil.txt", false, false},
    {"parent_twice", "setup\\a\\..\\..\\evil.txt", false, false},
    {"parent_slash", "setup/../evil.txt", false, false},
    {"parent_last", "setup\\..", false, false},
    {"current", "setup\\.\\x.txt", false, false},
    {"drive", "C:\\evil.txt", false, false},
    {"drive_relative", "setup\\C:evil.txt", false, false},
    {"stream", "setup\\a.txt:hidden", false, false},
    {"unc", "\\\\server\\share\\evil.txt", false, false},
    {"device_path", "\\\\.\\C:\\evil.txt", false, false},
    {"rooted", "\\setup\\x.txt", false, false},
    {"rooted_slash", "/setup/x.txt", false, false},
    {"outside_setup", "app\\x.txt", false, false},
    {"setup_prefix_only", "setupx\\y.txt", false, false},
    {"bare_setup", "setup", false, false},
    {"trailing_separator", "setup\\dir\\", false, false},
    {"empty_component", "setup\\\\x.txt", false, false},
    {"console", "setup\\CON", false, false},
    {"null_with_extension", "setup\\nul.txt", false, false},
    {"port", "setup\\a\\com1", false, false},
    {"trailing_dot", "setup\\x.", false, false},
    {"dots_and_space", "setup\\.. \\x.txt", false, false},
    {"wildcard", "setup\\*.txt", false, false},
    {"control", "setup\\a\tb.txt", false, false},
    {"empty", "", false, false},
    {"device_with_spaces", "setup\\nul .txt", false, false},
    {"device_lower_case", "setup\\a\\lpt9", false, false},
    {"device_superscript_one", "setup\\lpt\xb9", false, false},
    {"device_superscript_two_extension", "setup\\COM\xb2.txt", false, false},
    {"device_superscript_three", "setup\\a\\Com\xb3", false, false},
    {"port_with_other_high_byte", "setup\\COM\xb4", false, true},
    {"device_prefix_only", "setup\\console.txt", false, true},
    {"separator_as_second_byte", "setup\\\x95\\", true, true},
    {"separator_as_second_byte_single_byte_page", "setup\\\x95\\", false, false},
    {"lead_byte_last", "setup\\a\x81", true, false},
    {"lead_byte_before_wildcard", "setup\\x\xea<", true, false},
    {"lead_byte_before_colon", "setup\\a\x81:stream", true, false},
    {"lead_byte_before_slash", "setup\\a\x81/../../x", true, false},
    {"lead_byte_before_space", "setup\\a\x81 b", true, false},
    {"lead_byte_before_letter", "setup\\a\x81@b", true, true},
    {"lead_byte_single_byte_page", "setup\\x\xea<", false, false},
    {"high_byte_single_byte_page", "setup\\a\x81 b", false, true},
};

} // namespace entrynametest
