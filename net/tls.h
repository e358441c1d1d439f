#pragma once
#include <winsock2.h>
#include <openssl/ssl.h>

#include "app/win_handles.h"
#include "net/tls_failure.h"
#include "net/tls_owner.h"
#include "net/tls_wait.h"

void init_tls_library();

// The agent's one server context from server.crt and server.key beside the
// executable; null after the failure lines were written.
SslCtxPtr create_server_tls_context();

enum class AcceptOutcome {
    accepted,
    failed,           // reported as "[TLS] SSL_accept: ..." (a time-out included)
    closed_silently,  // the peer closed before sending a byte; nothing reported
};

// Server side of one connection on a non-blocking socket, finished by
// `deadline` or given up; null unless `outcome` is accepted. The socket stays
// the caller's either way.
SslPtr accept_tls(SOCKET s, SSL_CTX* ctx, TlsDeadline deadline, AcceptOutcome& outcome);

enum class ClientTlsFailure { none, certificate_missing, certificate_unreadable, refused };

// A viewer's context trusting only server.crt beside the executable. Null
// when the file is missing, holds no certificate OpenSSL can load, or OpenSSL
// refuses to make a context (the last two reported as "[TLS]" lines);
// `failure` tells which, for the caller to show.
SslCtxPtr create_client_tls_context(ClientTlsFailure& failure);

// Client side over a connected socket; null after the "[TLS]" report.
SslPtr connect_tls(SOCKET s, SSL_CTX* ctx);

// A TLS connection and its socket, owned together. When it goes it sends our
// close notification (not waiting for the peer's), frees the session and
// closes the socket.
struct TlsConnection {
    UniqueSocket socket;  // declared first: closed after the session is freed
    SslPtr ssl;

    TlsConnection() = default;
    TlsConnection(UniqueSocket s, SslPtr session) : socket(std::move(s)), ssl(std::move(session)) {}
    TlsConnection(TlsConnection&&) = default;
    TlsConnection& operator=(TlsConnection&&) = default;
    ~TlsConnection();
};
