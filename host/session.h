#pragma once
#include <winsock2.h>
#include <openssl/ssl.h>

#include <string>

#include "app/win_handles.h"
#include "net/tls.h"

enum class SessionStart {
    admitted,         // the viewer was let in; its session is over now
    refused,          // TLS or the password failed, or ran out of time
    closed_silently,  // the peer closed before sending a byte
};

// One viewer session on the accept thread: handshake, password, then the
// stream until the viewer leaves. `address` is null for relay sessions, which
// take no part in failure counting. The socket is closed on return.
SessionStart run_viewer_session(UniqueSocket s, SSL_CTX* ctx, const std::string& label,
                                const std::string* address);

// The authorised half: runs until the connection ends, then closes it.
void stream_session(TlsConnection connection, const std::string& label);
