#pragma once
// What OpenSSL says when something fails. No Windows here.
#include <openssl/ssl.h>

#include <string>

// Writes "[TLS] <step>: " and the OpenSSL error queue, which it drains, as one
// text to standard error (through the agent's log). `when_queue_empty`, if
// given, says what happened when OpenSSL has nothing to say (a time-out).
void report_tls_failure(const char* step, const char* when_queue_empty = nullptr);

// Why an SSL_read or SSL_write returned `result` (0 or less), as a short text
// for the line that ends a session: SSL_get_error, the socket error and the
// first queued OpenSSL error. Drains the queue, so the next call on this
// thread does not see a stale error. Call it straight after the failed call.
std::string tls_io_failure(SSL* ssl, int result);

// Clears the thread's socket error before an SSL_read or SSL_write, so that
// tls_io_failure does not take an old one for the reason.
void clear_socket_error();
