#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

namespace {

bool broken_source(std::uint8_t*, std::size_t) { return false; }

// Writes bytes all the same and fails: a source may scribble before it gives up.
bool scribbling_broken_source(std::uint8_t* bytes, std::size_t size)
{
    std::memset(bytes, 7, size);
    return false;
}

bool first_source(std::uint8_t* bytes, std::size_t size)
{
    const std::uint8_t fixed[] = {0, 53, 54, 255, 8, 23};
    std::memcpy(bytes, fixed, std::min(size, sizeof fixed));
    return true;
}

bool second_source(std::uint8_t* bytes, std::size_t size)
{
    std::memset(bytes, 1, size);
    return true;
}

} // namespace

TEST(PasswordAlphabet, TakesTheFirstSourceThatWorksAndNeverAWeakerOne)
{
    struct Case {
        std::vector<RandomSource> sources;
        std::string expected;
    };
    const Case cases[] = {
        {{first_source, second_source}, "a9aTjA"},
        {{broken_source, first_source}, "a9aTjA"},
        {{scribbling_broken_source, second_source}, "bbbbbb"},
        {{broken_source, scribbling_broken_source}, ""},  // no password rather than a guessable one
        {{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(password_from_sources(c.sources), c.expected) << c.sources.size();
}
