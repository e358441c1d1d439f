#include "net/tls.h"

#include <openssl/err.h>

#include <cstdio>
#include <string>

#include "app/win_util.h"

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
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) <= 0)
        return "use_PrivateKey_file";
    if (SSL_CTX_check_private_key(ctx) == 0)
        return "check_private_key (ключ не соответствует сертификату)";
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
