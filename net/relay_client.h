#pragma once
#include <winsock2.h>

#include <string>

#include "app/win_handles.h"

// Connects to the relay and sends one request line; empty on any failure.
UniqueSocket relay_connect(const std::string& host, unsigned port, const std::string& request);

// Reads one answer line a byte at a time, so that nothing after it is taken
// from the socket (after "OK" those bytes belong to TLS). False when the
// connection ends or times out before the line does.
bool read_relay_line(SOCKET s, std::size_t max, std::string& line);

// 1 registered, 0 not registered, -1 unclear.
int relay_query_status(const std::string& host, unsigned port, const std::string& id,
                       unsigned timeout_ms);
// The relay's version text; false (and empty) on failure.
bool relay_query_version(const std::string& host, unsigned port, std::string& version);
// A direct computer: 1 accepts TCP, 0 refuses or is silent for 2 s, -1 unresolvable.
int probe_tcp(const std::string& host, unsigned port);

void set_receive_timeout(SOCKET s, unsigned ms);
