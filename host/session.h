#pragma once
#include <winsock2.h>
#include <openssl/ssl.h>

#include <string>

// One viewer session on the accept thread: handshake, password, then the
// stream until the viewer leaves. `address` is null for relay sessions, which
// take no part in failure counting. The socket is closed on return.
void run_viewer_session(SOCKET s, SSL_CTX* ctx, const std::string& label,
                        const std::string* address);

// The authorised half: runs until the connection ends, then closes it.
void stream_session(SSL* ssl, SOCKET s, const std::string& label);
