#pragma once
// Owners of OpenSSL objects: freed when they go out of scope, on every path.
#include <openssl/ssl.h>

#include <memory>

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

using SslPtr = std::unique_ptr<SSL, SslFree>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
