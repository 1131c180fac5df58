// Whether an archive entry name may be written below the target directory.
// No platform header: the check builds and is fuzzed natively.
#pragma once

// Tells whether a byte starts a double-byte character in the code page the
// names are read in.
typedef bool (*leadbytetest)(unsigned char byte);

// The separators of an entry name: "\\" and, as Windows reads it, "/".
inline bool isseparator(char c) { return c == '\\' || c == '/'; }

// Bytes an entry name may take, its terminating zero included.
const int ENTRY_NAME_SIZE = 512;

// True when an entry name may be written below the target directory: it
// starts with "setup\", has no "." or ".." component, no drive or device
// prefix (no colon, no leading separator), no empty component, no component
// that Windows would trim (trailing dot or space) or read as a device (CON,
// NUL, COM1, ...), no control or wildcard character, no lead byte without a
// valid second byte, and is shorter than 512 bytes. "/" counts as a separator as well as "\". islead (null: a
// single-byte code page) says which bytes start a double-byte character; its second byte never counts as a separator.
bool safeentryname(const char* name, leadbytetest islead);

// The same rule for a name whose first component must be top (compared
// exactly) instead of "setup": "app" for the names of archive B.
bool safeentrynameunder(const char* name, const char* top, leadbytetest islead);

// True when the last character of name is a separator ("\" or "/"): a
// directory, which gets no entry. islead as above: the second byte of a
// double-byte character is never a separator, even where it is 0x5C.
bool endswithseparator(const char* name, leadbytetest islead);
