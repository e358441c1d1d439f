#include "net/tls_wait.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <fcntl.h>
#include <poll.h>
#endif

bool set_socket_blocking(int fd, bool blocking)
{
#ifdef _WIN32
    u_long non_blocking = blocking ? 0 : 1;
    return ioctlsocket(SOCKET(fd), FIONBIO, &non_blocking) == 0;
#else
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 &&
           fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
#endif
}

bool wait_for_tls(SSL* ssl, int ssl_error, TlsDeadline deadline)
{
    if (ssl_error != SSL_ERROR_WANT_READ && ssl_error != SSL_ERROR_WANT_WRITE)
        return false;
    const bool for_write = ssl_error == SSL_ERROR_WANT_WRITE;
    const int fd = SSL_get_fd(ssl);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
#ifdef _WIN32
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(SOCKET(fd), &ready);
        timeval timeout{long(left.count() / 1000), long(left.count() % 1000) * 1000};
        const int n = for_write ? select(0, nullptr, &ready, nullptr, &timeout)
                                : select(0, &ready, nullptr, nullptr, &timeout);
#else
        pollfd watched{fd, short(for_write ? POLLOUT : POLLIN), 0};
        const int n = poll(&watched, 1, int(left.count()));
#endif
        if (n > 0)
            return true;
        if (n < 0)
            return false;
        // n == 0: the time ran out, or the wait woke early; the loop tells which.
    }
}
