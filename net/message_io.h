#pragma once
// Framed messages over an established TLS session. Every failed SSL_read or
// SSL_write is examined (SSL_get_error); when `failure` is given, the first
// reason is stored there for the line that ends the session.
#include <openssl/ssl.h>

#include <string>

#include "net/framing.h"

bool send_msg(SSL* ssl, std::uint8_t type, const void* payload, std::size_t size,
              std::string* failure = nullptr);
bool read_msg(SSL* ssl, Message& out, std::uint32_t max_length = MAX_MSG_LEN,
              std::string* failure = nullptr);
