#include <cstdio>
#include <string>
#include <vector>

#include "relay/options.hpp"
#include "relay/server.hpp"

#ifndef ORVANE_RELAY_VERSION
#define ORVANE_RELAY_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = orvane::relay::parse_options(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "orvane-relay: %s\n\n%s", parsed.error.c_str(),
                     orvane::relay::usage_text().c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(orvane::relay::usage_text().c_str(), stdout);
        return 0;
    }
    return orvane::relay::run_relay(parsed.options, "orvane-relay " ORVANE_RELAY_VERSION);
}
