// Diagnostic lines on standard output: logline's
// "<local time> <source file> <function> <line>: <message>\n", and plainline
// for the messages that carry no prefix.
#pragma once

#if defined(__MINGW32__)
// Formatted by the system's C runtime (see logline.cpp): its formats, such as
// %I64d for a 64-bit integer, which Windows XP's runtime knows and %lld not.
#define LOGLINE_FORMAT(a, b) __attribute__((format(ms_printf, a, b)))
#elif defined(__GNUC__)
#define LOGLINE_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define LOGLINE_FORMAT(a, b)
#endif

// source is the issuing file's name without directory ("main", "datazip"),
// line the fixed number that belongs to the message, not __LINE__.
void logline(const char* source, const char* function, int line, const char* format, ...) LOGLINE_FORMAT(4, 5);
// The message alone, without the prefix ("Open file failed\n"), flushed.
void plainline(const char* format, ...) LOGLINE_FORMAT(1, 2);
