#pragma once
// The agent's lines: on the console, or in orvane_agent.log when the service
// started the agent. Each call writes its whole text at once under one lock,
// so lines of different threads never mix. Texts carry their own line feeds.
#include <string>

#if defined(__MINGW32__)
// MinGW's C99 printf, which the log uses, not the Microsoft one.
#define ORVANE_PRINTF(format_index) \
    __attribute__((format(gnu_printf, format_index, format_index + 1)))
#elif defined(__GNUC__)
#define ORVANE_PRINTF(format_index) __attribute__((format(printf, format_index, format_index + 1)))
#else
#define ORVANE_PRINTF(format_index)
#endif

// Standard output.
void log_info(const char* format, ...) ORVANE_PRINTF(1);
// Standard error.
void log_error(const char* format, ...) ORVANE_PRINTF(1);

// Truncates the file, then opens it once for appending and sends both streams
// there through that one handle, so no line overwrites another. Standard
// output stays unbuffered. False when the file cannot be opened; the lines
// then go where they went before.
bool open_agent_log(const std::string& path);
