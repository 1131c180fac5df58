// Must not compile: a lookup is typed by the plain signature, never by a
// pointer type that may lack the calling convention (see systemfunction.h).
#include "systemfunction.h"

typedef BOOL (*setdefaultdlldirectories)(DWORD);

void lookupwithapointertype() { systemfunction<setdefaultdlldirectories>(L"kernel32.dll", "SetDefaultDllDirectories"); }
