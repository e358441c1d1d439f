#include "net/message_io.h"

namespace {

int ssl_read_some(void* ctx, std::uint8_t* buffer, int size)
{
    return SSL_read(static_cast<SSL*>(ctx), buffer, size);
}

int ssl_write_some(void* ctx, const std::uint8_t* buffer, int size)
{
    return SSL_write(static_cast<SSL*>(ctx), buffer, size);
}

} // namespace

bool send_msg(SSL* ssl, std::uint8_t type, const void* payload, std::size_t size)
{
    return write_message(ssl_write_some, ssl, type, payload, size);
}

bool read_msg(SSL* ssl, Message& out, std::uint32_t max_length)
{
    return read_message(ssl_read_some, ssl, out, max_length);
}
