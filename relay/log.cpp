#include "relay/log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace orvane::relay {

void log_line(std::string_view text) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char stamp[32] = "unknown time";
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", utc);
    std::printf("%sZ %.*s\n", stamp, static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

}  // namespace orvane::relay
