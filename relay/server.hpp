// The relay server: accepts connections, answers the one request line each
// sends, keeps registrations and joins a viewer to a registered agent.
#pragma once

#include <string>

#include "relay/options.hpp"

namespace orvane::relay {

// Runs until SIGINT or SIGTERM. Returns the process exit code.
int run_relay(const Options& options, const std::string& version);

}  // namespace orvane::relay
