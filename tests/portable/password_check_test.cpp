#include <gtest/gtest.h>

#include "host/password_check.h"

TEST(PasswordCheck, LengthAndBytesMustAgreeUnlessNoneIsSet)
{
    struct Case { const char* expected; std::string sent; bool ok; };
    const Case cases[] = {
        {"abc123", "abc123", true},
        {"abc123", "abc12", false},
        {"abc123", "abc1234", false},
        {"abc123", "abc124", false},
        {"abc123", "", false},
        {"abc123", std::string("abc123\0", 7), false},  // no terminator games
        {"", "", true},                                   // no password: any MSG_AUTH
        {"", "anything at all", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(password_matches(c.expected, reinterpret_cast<const std::uint8_t*>(c.sent.data()),
                                   c.sent.size()),
                  c.ok)
            << c.expected << " vs " << c.sent;
}
