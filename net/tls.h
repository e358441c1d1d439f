#pragma once
#include <openssl/ssl.h>

#include <winsock2.h>

void init_tls_library();

// Writes "[TLS] <step>: " and drains the OpenSSL error queue to standard error.
void report_tls_failure(const char* step);

// The agent's one server context from server.crt and server.key beside the
// executable; nullptr after the failure lines were written.
SSL_CTX* create_server_tls_context();
