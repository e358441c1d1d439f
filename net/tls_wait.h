#pragma once
// Waiting for a TLS session on a non-blocking socket until a deadline, for
// work that must end in time however slowly the peer sends. No Windows here.
#include <openssl/ssl.h>

#include <chrono>

using TlsDeadline = std::chrono::steady_clock::time_point;

// Switches the session's socket between blocking and non-blocking; false
// when the system refuses.
bool set_socket_blocking(int fd, bool blocking);

// After a call on `ssl` failed with SSL_ERROR_WANT_READ or SSL_ERROR_WANT_WRITE
// (`ssl_error`): waits until the socket is ready for it. False when the
// deadline passed first, or for any other error.
bool wait_for_tls(SSL* ssl, int ssl_error, TlsDeadline deadline);
