#include "host/password_check.h"

#include <openssl/crypto.h>

bool password_matches(const std::string& expected, const std::uint8_t* sent, std::size_t size)
{
    if (expected.empty())
        return true;
    if (size != expected.size())
        return false;
    return CRYPTO_memcmp(expected.data(), sent, size) == 0;
}
