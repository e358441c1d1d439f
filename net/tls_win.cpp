#include "net/tls.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>

#include "app/win_util.h"
#include "ui/message_box.h"

void init_tls_library()
{
    OPENSSL_init_ssl(0, nullptr);
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
}

void report_tls_failure(const char* step)
{
    std::fprintf(stderr, "[TLS] %s: ", step);
    ERR_print_errors_fp(stderr);
    std::fflush(stderr);
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

SSL_CTX* create_server_tls_context()
{
    init_tls_library();
    const std::string dir = exe_directory();
    const std::string crt = dir + "server.crt";
    const std::string key = dir + "server.key";

    const char* failed_step = nullptr;
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        failed_step = "SSL_CTX_new";
    } else {
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        failed_step = load_server_identity(ctx, crt, key);
    }
    if (!failed_step)
        return ctx;

    report_tls_failure(failed_step);
    SSL_CTX_free(ctx);
    std::fprintf(stderr, "Не удалось загрузить сертификат/ключ.\n");
    std::fprintf(stderr, "Ожидаю: %s и %s\n", crt.c_str(), key.c_str());
    return nullptr;
}

SSL* accept_tls(SOCKET s, SSL_CTX* ctx)
{
    SSL* ssl = SSL_new(ctx);
    if (!ssl) {
        report_tls_failure("SSL_new");
        return nullptr;
    }
    SSL_set_fd(ssl, int(s));
    if (SSL_accept(ssl) <= 0) {
        report_tls_failure("SSL_accept");
        SSL_free(ssl);
        return nullptr;
    }
    return ssl;
}

SSL_CTX* create_client_tls_context()
{
    init_tls_library();
    const std::string crt = exe_directory() + "server.crt";
    if (GetFileAttributesA(crt.c_str()) == INVALID_FILE_ATTRIBUTES) {
        show_message_box(nullptr, L"Нет файла server.crt рядом с приложением.", MB_ICONWARNING);
        return nullptr;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        report_tls_failure("SSL_CTX_new");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_load_verify_locations(ctx, crt.c_str(), nullptr) <= 0) {
        report_tls_failure("load_verify_locations");
        SSL_CTX_free(ctx);
        return nullptr;
    }
    // The pinned certificate is the server's whole identity: no host name check.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    return ctx;
}

SSL* connect_tls(SOCKET s, SSL_CTX* ctx)
{
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    const char* failed_step = nullptr;
    SSL* ssl = SSL_new(ctx);
    if (!ssl) {
        failed_step = "SSL_new";
    } else {
        SSL_set_fd(ssl, int(s));
        if (SSL_connect(ssl) <= 0)
            failed_step = "SSL_connect";
    }
    if (failed_step) {
        report_tls_failure(failed_step);
        SSL_free(ssl);
        show_message_box(nullptr, L"TLS не удался (сертификат не тот или сервер не TLS).",
                         MB_ICONWARNING);
        return nullptr;
    }
    const long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK)
        std::fprintf(stderr, "[TLS] сертификат сервера не прошёл проверку: %ld\n", verify);
    return ssl;
}

void close_tls(SSL* ssl, SOCKET s)
{
    if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
}
