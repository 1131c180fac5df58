#include "logline.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

void logline(const char* source, const char* function, int line, const char* format, ...)
{
    char stamp[32] = "";
    time_t now = time(nullptr);
    if (const struct tm* local = localtime(&now)) strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    printf("%s %s %s %d: ", stamp, source, function, line);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    // The process may end with exit() or be watched through a pipe.
    fflush(stdout);
}

void plainline(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}
