#include "credentials/password_alphabet.h"

static_assert(PASSWORD_ALPHABET_SIZE == 54);

std::string password_from_random(const std::uint8_t (&bytes)[GENERATED_PASSWORD_LENGTH])
{
    std::string password(GENERATED_PASSWORD_LENGTH, ' ');
    for (std::size_t i = 0; i < GENERATED_PASSWORD_LENGTH; ++i)
        password[i] = PASSWORD_ALPHABET[bytes[i] % PASSWORD_ALPHABET_SIZE];
    return password;
}

std::string password_from_sources(std::span<const RandomSource> sources)
{
    for (const RandomSource source : sources) {
        std::uint8_t bytes[GENERATED_PASSWORD_LENGTH] = {};
        if (source(bytes, sizeof bytes))
            return password_from_random(bytes);
    }
    return {};
}
