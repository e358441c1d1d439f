#include "net/message_io.h"

#include "net/tls_failure.h"
#include "net/tls_wait.h"

namespace {

struct TlsIo {
    SSL* ssl;
    std::string* failure;
    bool failed = false;
    const TlsDeadline* deadline = nullptr;  // set: the socket is non-blocking
};

void note_failure(TlsIo& io, int result)
{
    io.failed = true;
    std::string reason = tls_io_failure(io.ssl, result);
    if (io.failure && io.failure->empty())
        *io.failure = std::move(reason);
}

int ssl_read_some(void* ctx, std::uint8_t* buffer, int size)
{
    auto& io = *static_cast<TlsIo*>(ctx);
    for (;;) {
        clear_socket_error();
        const int n = SSL_read(io.ssl, buffer, size);
        if (n > 0)
            return n;
        if (io.deadline && wait_for_tls(io.ssl, SSL_get_error(io.ssl, n), *io.deadline))
            continue;
        note_failure(io, n);
        return n;
    }
}

int ssl_write_some(void* ctx, const std::uint8_t* buffer, int size)
{
    auto& io = *static_cast<TlsIo*>(ctx);
    clear_socket_error();
    const int n = SSL_write(io.ssl, buffer, size);
    if (n <= 0)
        note_failure(io, n);
    return n;
}

// A failure of the framing itself, not of TLS underneath.
void note_message_failure(const TlsIo& io, const char* reason)
{
    if (!io.failed && io.failure && io.failure->empty())
        *io.failure = reason;
}

bool read_whole(TlsIo& io, Message& out, std::uint32_t max_length)
{
    if (read_message(ssl_read_some, &io, out, max_length))
        return true;
    note_message_failure(io, "invalid message length or no memory");
    return false;
}

} // namespace

bool send_msg(SSL* ssl, std::uint8_t type, const void* payload, std::size_t size,
              std::string* failure)
{
    TlsIo io{ssl, failure};
    if (write_message(ssl_write_some, &io, type, payload, size))
        return true;
    note_message_failure(io, "message not sent (too large or no memory)");
    return false;
}

bool read_msg(SSL* ssl, Message& out, std::uint32_t max_length, std::string* failure)
{
    TlsIo io{ssl, failure};
    return read_whole(io, out, max_length);
}

bool read_msg_before(SSL* ssl, TlsDeadline deadline, Message& out, std::uint32_t max_length,
                     std::string* failure)
{
    TlsIo io{ssl, failure, false, &deadline};
    return read_whole(io, out, max_length);
}
