#include "logline.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

// The C++ runtime asks mingw for a printf of its own, about 23 KB in every
// program; the lines here need only %s and %d (and %I64d), which the system's
// C runtime formats the same, so they go through it.
int writeline(const char* format, va_list args)
{
#if defined(__MINGW32__)
    return __ms_vfprintf(stdout, format, args);
#else
    return vfprintf(stdout, format, args);
#endif
}

int writeprefix(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int written = writeline(format, args);
    va_end(args);
    return written;
}

} // namespace

void logline(const char* source, const char* function, int line, const char* format, ...)
{
    char stamp[32] = "";
    time_t now = time(nullptr);
    if (const struct tm* local = localtime(&now)) strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    writeprefix("%s %s %s %d: ", stamp, source, function, line);
    va_list args;
    va_start(args, format);
    writeline(format, args);
    va_end(args);
    // The process may end with exit() or be watched through a pipe.
    fflush(stdout);
}

void plainline(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeline(format, args);
    va_end(args);
    fflush(stdout);
}
