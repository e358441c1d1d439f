#include "net/tls.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <string>

#include "app/agent_log.h"
#include "app/win_util.h"

void init_tls_library()
{
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
}

namespace {

// The step that failed, or nullptr when the context is ready.
const char* load_server_identity(SSL_CTX* ctx, const std::string& crt, const std::string& key)
{
    if (SSL_CTX_use_certificate_file(ctx, crt.c_str(), SSL_FILETYPE_PEM) <= 0)
        return "use_certificate_file";
    constexpr const char* MISMATCH = "check_private_key (ключ не соответствует сертификату)";
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) <= 0) {
        // OpenSSL 3 already compares a key of the certificate's type while
        // loading it; the user still needs to hear that the pair does not match.
        const int reason = ERR_GET_REASON(ERR_peek_last_error());
        return reason == X509_R_KEY_VALUES_MISMATCH || reason == X509_R_KEY_TYPE_MISMATCH
                   ? MISMATCH : "use_PrivateKey_file";
    }
    if (SSL_CTX_check_private_key(ctx) == 0)
        return MISMATCH;
    return nullptr;
}

} // namespace

SslCtxPtr create_server_tls_context()
{
    init_tls_library();
    const std::string dir = exe_directory();
    const std::string crt = dir + "server.crt";
    const std::string key = dir + "server.key";

    const char* failed_step = nullptr;
    SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        failed_step = "SSL_CTX_new";
    } else {
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
        failed_step = load_server_identity(ctx.get(), crt, key);
    }
    if (!failed_step)
        return ctx;

    report_tls_failure(failed_step);
    ctx.reset();
    log_error("Не удалось загрузить сертификат/ключ.\n");
    log_error("Ожидаю: %s и %s\n", crt.c_str(), key.c_str());
    return nullptr;
}

SslPtr accept_tls(SOCKET s, SSL_CTX* ctx, TlsDeadline deadline, AcceptOutcome& outcome)
{
    outcome = AcceptOutcome::failed;
    SslPtr ssl(SSL_new(ctx));
    if (!ssl) {
        report_tls_failure("SSL_new");
        return nullptr;
    }
    SSL_set_fd(ssl.get(), int(s));
    for (;;) {
        const int result = SSL_accept(ssl.get());
        if (result == 1) {
            outcome = AcceptOutcome::accepted;
            return ssl;
        }
        const int error = SSL_get_error(ssl.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (wait_for_tls(ssl.get(), error, deadline))
                continue;
            report_tls_failure("SSL_accept", "timed out");
            return nullptr;
        }
        if (BIO_number_read(SSL_get_rbio(ssl.get())) == 0) {
            // Not a word from the peer: a reachability check, not a handshake.
            ERR_clear_error();
            outcome = AcceptOutcome::closed_silently;
            return nullptr;
        }
        report_tls_failure("SSL_accept");
        return nullptr;
    }
}

SslCtxPtr create_client_tls_context(ClientTlsFailure& failure)
{
    init_tls_library();
    failure = ClientTlsFailure::refused;
    const std::string crt = exe_directory() + "server.crt";
    if (GetFileAttributesA(crt.c_str()) == INVALID_FILE_ATTRIBUTES) {
        failure = ClientTlsFailure::certificate_missing;
        return nullptr;
    }
    SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        report_tls_failure("SSL_CTX_new");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    if (SSL_CTX_load_verify_locations(ctx.get(), crt.c_str(), nullptr) <= 0) {
        failure = ClientTlsFailure::certificate_unreadable;
        report_tls_failure("load_verify_locations");
        return nullptr;
    }
    // The pinned certificate is the server's whole identity: no host name check.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    failure = ClientTlsFailure::none;
    return ctx;
}

SslPtr connect_tls(SOCKET s, SSL_CTX* ctx)
{
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    SslPtr ssl(SSL_new(ctx));
    if (!ssl) {
        report_tls_failure("SSL_new");
        return nullptr;
    }
    SSL_set_fd(ssl.get(), int(s));
    if (SSL_connect(ssl.get()) <= 0) {
        report_tls_failure("SSL_connect");
        return nullptr;
    }
    const long verify = SSL_get_verify_result(ssl.get());
    if (verify != X509_V_OK)
        log_error("[TLS] сертификат сервера не прошёл проверку: %ld\n", verify);
    return ssl;
}

TlsConnection::~TlsConnection()
{
    // Our farewell only after a finished handshake; it fails fast on a dead link.
    if (ssl && SSL_is_init_finished(ssl.get())) {
        SSL_shutdown(ssl.get());
        ERR_clear_error();
    }
}
