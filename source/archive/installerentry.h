// The installer's steps on an entry before its data, the same on its
// reader's thread and on its read-ahead thread: the record, the name in the
// installer's name buffer, the name rule in the ANSI code page, the data
// opened.
#pragma once

#include "entryreader.h"

#include <unzip.h>

#include <cstdint>

// safeentryname of entryname.h for a name in the ANSI code page: true when
// the entry may be written below the target directory.
bool safeentryname(const char* name);

// The installer's steps before an entry's data, on the archive's current
// entry: its record into entry, its name into name (ENTRY_NAME_SIZE bytes,
// always terminated; empty when the record cannot be read), the name rule
// (shorter than the buffer, safeentryname), then the data opened. ENTRY_OK,
// or the first step's ENTRY_ value that failed.
int32_t openinstallerentry(unzFile archive, entryrecord& entry, char* name);
