#include "app/agent_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define ORVANE_DUP2 _dup2
#define ORVANE_FILENO _fileno
#else
#include <unistd.h>
#define ORVANE_DUP2 dup2
#define ORVANE_FILENO fileno
#endif

namespace {

std::mutex log_mutex;
std::FILE* log_file = nullptr;  // both streams, once open_agent_log succeeded

void write_formatted(std::FILE* console, const char* format, std::va_list args)
{
    std::va_list copy;
    va_copy(copy, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    std::vector<char> large;
    const char* text = small;
    if (std::size_t(n) >= sizeof small) {
        large.resize(std::size_t(n) + 1);
        std::vsnprintf(large.data(), large.size(), format, args);
        text = large.data();
    }
    std::lock_guard<std::mutex> lock(log_mutex);
    std::FILE* out = log_file ? log_file : console;
    std::fwrite(text, 1, std::size_t(n), out);
    std::fflush(out);
}

} // namespace

void log_info(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    write_formatted(stdout, format, args);
    va_end(args);
}

void log_error(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    write_formatted(stderr, format, args);
    va_end(args);
}

bool open_agent_log(const std::string& path)
{
    if (std::FILE* truncate = std::fopen(path.c_str(), "w"))
        std::fclose(truncate);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return false;
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::lock_guard<std::mutex> lock(log_mutex);
    // Whatever else writes to the standard streams lands in the same place.
    std::fflush(stdout);
    std::fflush(stderr);
    ORVANE_DUP2(ORVANE_FILENO(file), ORVANE_FILENO(stdout));
    ORVANE_DUP2(ORVANE_FILENO(file), ORVANE_FILENO(stderr));
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    log_file = file;
    return true;
}
