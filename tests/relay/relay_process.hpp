// Runs the real orvane-relay on a free loopback port and talks to it over
// plain sockets. POSIX only: these tests run in the native build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace orvane::relay::test {

// Path of the orvane-relay binary, given as the test's first argument.
std::string relay_binary();

struct RelayProcess {
    pid_t pid = -1;
    std::string log_path;
    std::uint16_t port = 0;
};

// Starts the relay on 127.0.0.1 with a port the system picks and waits for
// the log line that names it. Fails the current test when it does not come.
RelayProcess start_relay(const std::vector<std::string>& extra_args = {});

// SIGTERM, then waits; returns the exit status (0 means a clean stop with no
// sanitizer report). Removes the log file.
int stop_relay(RelayProcess& relay);

std::string read_log(const RelayProcess& relay);
std::size_t count_occurrences(std::string_view text, std::string_view what);

// Waits (bounded) until the relay's log holds `what`; false on time-out.
bool wait_for_log(const RelayProcess& relay, std::string_view what, int timeout_ms = 10000);

// A connected client socket, closed when it goes out of scope.
struct Client {
    int fd = -1;
    Client() = default;
    explicit Client(int fd_) : fd(fd_) {}
    Client(Client&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Client& operator=(Client&& other) noexcept;
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client();
    void close();
};

// From 127.0.0.1, or from another loopback address when `source` is given.
Client connect_to(std::uint16_t port, const char* source = nullptr);
bool send_all(const Client& c, std::string_view bytes);

// Reads one line byte by byte, as the agent does; the line feed is not kept.
// Returns false on close, error or time-out.
bool read_line(const Client& c, std::string& line, int timeout_ms = 3000);

// Reads exactly n bytes.
bool read_exact(const Client& c, std::string& out, std::size_t n, int timeout_ms = 5000);

// True when the peer closes (end of stream or reset) within the time.
bool wait_closed(const Client& c, int timeout_ms = 3000);

// Connects, sends one request line and returns the answer line ("" if none).
std::string ask(std::uint16_t port, std::string_view request);

// The local port of a client socket.
std::uint16_t local_port(const Client& c);

}  // namespace orvane::relay::test
