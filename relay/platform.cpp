#include "relay/platform.hpp"

#include <limits>

#ifdef _WIN32
#include <winsock2.h>
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#endif

namespace orvane::relay {

void enable_keepalive(asio::ip::tcp::socket& socket) {
    asio::error_code ec;
    socket.set_option(asio::socket_base::keep_alive(true), ec);
    const auto handle = socket.native_handle();
#ifdef _WIN32
    // Windows sends a fixed ten probes; a 3 s interval keeps the total near a minute.
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = keepalive_idle_seconds * 1000;
    values.keepaliveinterval = 3000;
    DWORD returned = 0;
    WSAIoctl(handle, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
             nullptr, nullptr);
#else
    const int idle = keepalive_idle_seconds;
    const int interval = keepalive_interval_seconds;
    const int probes = keepalive_probes;
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(handle, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
}

std::size_t connection_budget() {
#ifdef _WIN32
    return std::numeric_limits<std::size_t>::max();
#else
    // Descriptors kept back for the listener, standard streams and the reactor.
    constexpr rlim_t reserved = 32;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024 - reserved;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<std::size_t>::max();
    return limit.rlim_cur > reserved ? static_cast<std::size_t>(limit.rlim_cur - reserved) : 1;
#endif
}

}  // namespace orvane::relay
