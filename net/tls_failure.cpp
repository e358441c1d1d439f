#include "net/tls_failure.h"

#include <openssl/err.h>

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#endif

#include "app/agent_log.h"

namespace {

int append_error_line(const char* text, std::size_t size, void* out)
{
    static_cast<std::string*>(out)->append(text, size);
    return 1;
}

int last_socket_error()
{
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

// The usual socket errors in words; the number for the rest.
std::string socket_error_text(int socket_error)
{
#ifdef _WIN32
    switch (socket_error) {
    case WSAETIMEDOUT:
    case WSAEWOULDBLOCK:
        return "timed out";
    case WSAECONNRESET:
        return "connection reset";
    case WSAECONNABORTED:
        return "connection aborted";
    }
#else
    if (socket_error == EAGAIN || socket_error == EWOULDBLOCK || socket_error == ETIMEDOUT)
        return "timed out";
    if (socket_error == ECONNRESET || socket_error == EPIPE)
        return "connection reset";
#endif
    return "socket error " + std::to_string(socket_error);
}

// The first queued error's reason as OpenSSL words it; empties the queue.
std::string first_queued_error()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    if (ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return "connection closed";  // closed without TLS's own farewell
    if (const char* reason = ERR_reason_error_string(code))
        return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

} // namespace

void clear_socket_error()
{
#ifdef _WIN32
    WSASetLastError(0);
#else
    errno = 0;
#endif
}

void report_tls_failure(const char* step, const char* when_queue_empty)
{
    std::string text = std::string("[TLS] ") + step + ": ";
    const std::size_t prefix = text.size();
    ERR_print_errors_cb(append_error_line, &text);
    if (text.size() == prefix && when_queue_empty)
        text += when_queue_empty;
    if (text.size() == prefix || text.back() != '\n')
        text += '\n';  // an empty queue still ends the line
    log_error("%s", text.c_str());
}

std::string tls_io_failure(SSL* ssl, int result)
{
    const int socket_error = last_socket_error();
    const int error = SSL_get_error(ssl, result);
    const std::string queued = first_queued_error();
    switch (error) {
    case SSL_ERROR_ZERO_RETURN:
        return "peer closed TLS";
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return "timed out";
    case SSL_ERROR_SYSCALL:
        if (!queued.empty())
            return queued == "connection closed" ? queued : "TLS error: " + queued;
        if (socket_error == 0)
            return "connection closed";
        return socket_error_text(socket_error);
    case SSL_ERROR_SSL:
        if (queued == "connection closed")
            return queued;
        return "TLS error: " + (queued.empty() ? std::string("protocol") : queued);
    default:
        return "SSL_get_error " + std::to_string(error);
    }
}
