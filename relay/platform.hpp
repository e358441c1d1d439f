// The few socket and process settings that differ between Linux and Windows.
#pragma once

#include <cstddef>

#include <asio/ip/tcp.hpp>

namespace orvane::relay {

// Keep-alive timing for every accepted connection: a peer that vanished
// without a close is noticed after about a minute (30 s idle, then probes).
inline constexpr int keepalive_idle_seconds = 30;
inline constexpr int keepalive_interval_seconds = 5;
inline constexpr int keepalive_probes = 5;

// Switches on keep-alive with the timing above. Best effort: a failure only
// means a dead peer is noticed later.
void enable_keepalive(asio::ip::tcp::socket& socket);

// Raises the open-file limit as far as the system allows and returns how
// many connections fit under it (no bound where sockets are not files).
std::size_t connection_budget();

}  // namespace orvane::relay
