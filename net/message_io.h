#pragma once
// Framed messages over an established TLS session.
#include <openssl/ssl.h>

#include "net/framing.h"

bool send_msg(SSL* ssl, std::uint8_t type, const void* payload, std::size_t size);
bool read_msg(SSL* ssl, Message& out, std::uint32_t max_length = MAX_MSG_LEN);
