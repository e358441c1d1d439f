// Command line of orvane-relay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::relay {

struct Options {
    std::string host = "0.0.0.0";
    std::uint16_t port = 56000;
    std::size_t max_connections = 16384;
    std::size_t max_per_address = 1024;   // 0: no per-address bound
    std::size_t max_lookups = 300;        // connect and status requests per address a minute; 0: none
    bool help = false;
};

struct OptionsResult {
    Options options;
    std::string error;   // empty on success
};

OptionsResult parse_options(const std::vector<std::string>& args);

// Splits "ADDR:PORT"; IPv6 addresses go in brackets ("[::1]:56000").
bool split_host_port(const std::string& text, std::string& host, std::uint16_t& port);

std::string usage_text();

}  // namespace orvane::relay
