#include "relay_process.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace orvane::relay::test {
namespace {

bool wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) == 1;
}

std::uint16_t port_from_log(const std::string& log) {
    const std::string marker = "listening on 127.0.0.1:";
    const auto at = log.find(marker);
    if (at == std::string::npos) return 0;
    return static_cast<std::uint16_t>(std::atoi(log.c_str() + at + marker.size()));
}

}  // namespace

std::string relay_binary() {
    const auto args = testing::internal::GetArgvs();
    return args.size() > 1 ? args[1] : std::string();
}

RelayProcess start_relay(const std::vector<std::string>& extra_args) {
    RelayProcess relay;
    char path[] = "/tmp/orvane-relay-test-XXXXXX";
    const int log_fd = ::mkstemp(path);
    if (log_fd < 0) {
        ADD_FAILURE() << "mkstemp failed";
        return relay;
    }
    relay.log_path = path;
    std::vector<std::string> args = {relay_binary(), "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log_fd);
    relay.pid = pid;
    for (int i = 0; i < 500 && relay.port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        relay.port = port_from_log(read_log(relay));
    }
    if (relay.port == 0) ADD_FAILURE() << "relay did not start:\n" << read_log(relay);
    return relay;
}

int stop_relay(RelayProcess& relay) {
    int status = -1;
    if (relay.pid > 0) {
        ::kill(relay.pid, SIGTERM);
        int waited = 0;
        for (int i = 0; i < 1000; ++i) {
            waited = ::waitpid(relay.pid, &status, WNOHANG);
            if (waited != 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (waited == 0) {
            ::kill(relay.pid, SIGKILL);
            ::waitpid(relay.pid, &status, 0);
            status = -1;
        }
        relay.pid = -1;
    }
    const std::string log = read_log(relay);
    if (status != 0) ADD_FAILURE() << "relay log:\n" << log;
    if (!relay.log_path.empty()) ::unlink(relay.log_path.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_log(const RelayProcess& relay) {
    std::ifstream in(relay.log_path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t count_occurrences(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

bool wait_for_log(const RelayProcess& relay, std::string_view what, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (count_occurrences(read_log(relay), what) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Client& Client::operator=(Client&& other) noexcept {
    if (this != &other) {
        close();
        fd = other.fd;
        other.fd = -1;
    }
    return *this;
}

Client::~Client() { close(); }

void Client::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

Client connect_to(std::uint16_t port, const char* source) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Client();
    Client client(fd);
    if (source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, source, &local.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return Client();
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return Client();
    return client;
}

bool send_all(const Client& c, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool read_line(const Client& c, std::string& line, int timeout_ms) {
    line.clear();
    for (std::size_t i = 0; i < 4096; ++i) {
        char byte = 0;
        if (!wait_readable(c.fd, timeout_ms) || ::recv(c.fd, &byte, 1, 0) != 1) return false;
        if (byte == '\n') return true;
        line.push_back(byte);
    }
    return false;
}

bool read_exact(const Client& c, std::string& out, std::size_t n, int timeout_ms) {
    out.resize(n);
    std::size_t got = 0;
    while (got < n) {
        if (!wait_readable(c.fd, timeout_ms)) break;
        const ssize_t r = ::recv(c.fd, out.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return got == n;
}

bool wait_closed(const Client& c, int timeout_ms) {
    char buffer[4096];
    for (int i = 0; i < 1000; ++i) {
        if (!wait_readable(c.fd, timeout_ms)) return false;
        const ssize_t r = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (r <= 0) return true;
    }
    return false;
}

std::string ask(std::uint16_t port, std::string_view request) {
    Client c = connect_to(port);
    std::string line;
    if (!send_all(c, request) || !read_line(c, line)) return "";
    return line;
}

std::uint16_t local_port(const Client& c) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(c.fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

}  // namespace orvane::relay::test
