#include <gtest/gtest.h>

#include <cstring>

#include "credentials/password_alphabet.h"

TEST(PasswordAlphabet, MapsEachByteModulo54)
{
    struct Case { std::uint8_t byte; char expected; };
    const Case cases[] = {{0, 'a'}, {53, '9'}, {54, 'a'}, {255, 'T'}, {8, 'j'}, {23, 'A'}};
    for (const Case& c : cases) {
        const std::uint8_t bytes[6] = {c.byte, c.byte, c.byte, c.byte, c.byte, c.byte};
        EXPECT_EQ(password_from_random(bytes), std::string(6, c.expected)) << int(c.byte);
    }
}

TEST(PasswordAlphabet, HasNoLookAlikesAndEveryByteGivesSixAlphabetChars)
{
    for (char bad : std::string("iloILO01"))
        EXPECT_EQ(std::strchr(PASSWORD_ALPHABET, bad), nullptr) << bad;
    for (int b = 0; b < 256; ++b) {
        const std::uint8_t bytes[6] = {std::uint8_t(b), 1, 2, 3, 4, 5};
        std::string password = password_from_random(bytes);
        ASSERT_EQ(password.size(), 6u);
        for (char c : password)
            EXPECT_NE(std::strchr(PASSWORD_ALPHABET, c), nullptr);
    }
}
