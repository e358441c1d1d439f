#pragma once
// Framed messages over an established TLS session. Every failed SSL_read or
// SSL_write is examined (SSL_get_error); when `failure` is given, the first
// reason is stored there for the line that ends the session.
#include <openssl/ssl.h>

#include <string>

#include "net/framing.h"
#include "net/tls_wait.h"

bool send_msg(SSL* ssl, std::uint8_t type, const void* payload, std::size_t size,
              std::string* failure = nullptr);
bool read_msg(SSL* ssl, Message& out, std::uint32_t max_length = MAX_MSG_LEN,
              std::string* failure = nullptr);

// The same on a non-blocking socket: the whole message must have arrived by
// `deadline`, however it trickles in ("timed out" otherwise).
bool read_msg_before(SSL* ssl, TlsDeadline deadline, Message& out,
                     std::uint32_t max_length = MAX_MSG_LEN, std::string* failure = nullptr);
