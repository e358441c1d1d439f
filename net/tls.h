#pragma once
#include <winsock2.h>
#include <openssl/ssl.h>

void init_tls_library();

// Writes "[TLS] <step>: " and drains the OpenSSL error queue to standard error.
void report_tls_failure(const char* step);

// The agent's one server context from server.crt and server.key beside the
// executable; nullptr after the failure lines were written.
SSL_CTX* create_server_tls_context();

// Server side of one connection; nullptr (reported) when the handshake fails.
// The socket stays open either way: the caller closes it.
SSL* accept_tls(SOCKET s, SSL_CTX* ctx);

// A viewer's context trusting only server.crt beside the executable; nullptr
// when the file is missing (after a message box) or OpenSSL refuses it.
SSL_CTX* create_client_tls_context();

// Client side over a connected socket; nullptr after the message box.
SSL* connect_tls(SOCKET s, SSL_CTX* ctx);

// Sends our close notification (not waiting for the peer's), frees, closes.
void close_tls(SSL* ssl, SOCKET s);
