#include <gtest/gtest.h>

#include "net/relay_answers.h"

TEST(RelayAnswers, StatusIsExactOrUnclear)
{
    struct Case { const char* line; int status; };
    const Case cases[] = {{"ONLINE", 1}, {"OFFLINE", 0}, {"online", -1}, {"ONLINE ", -1},
                          {" ONLINE", -1}, {"", -1}, {"OFFLINEX", -1}, {"ERR offline", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(status_from_answer(c.line), c.status) << '"' << c.line << '"';
}

TEST(RelayAnswers, RegistrationAndVersionLines)
{
    std::string text;
    EXPECT_TRUE(id_from_register_answer("ID 123456789", text));
    EXPECT_EQ(text, "123456789");
    EXPECT_TRUE(id_from_register_answer("ID " + std::string(70, 'a'), text));
    EXPECT_EQ(text, std::string(63, 'a'));
    for (const char* refusal : {"ERR id in use", "id 5", "ID", "", " ID 5"})
        EXPECT_FALSE(id_from_register_answer(refusal, text)) << refusal;

    EXPECT_TRUE(version_from_answer("VERSION orvane-relay 0.1.0", text));
    EXPECT_EQ(text, "orvane-relay 0.1.0");
    EXPECT_TRUE(version_from_answer("VERSION ", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(version_from_answer("VERSION", text));
    EXPECT_FALSE(version_from_answer("version 1", text));
}

TEST(RelayAnswers, LineReaderDropsCarriageReturnsAndStopsAtItsLimit)
{
    struct Case { std::string bytes; std::size_t max; std::string line; std::size_t used; };
    const Case cases[] = {
        {"OK\nTLS", 63, "OK", 3},          // nothing after the line feed is taken
        {"O\rK\r\n", 63, "OK", 5},
        {"ONLINE-AND-MORE\n", 6, "ONLINE", 6},  // cut at the limit, rest unread
        {"\n", 63, "", 1},
    };
    for (const Case& c : cases) {
        std::string line;
        std::size_t used = 0;
        while (used < c.bytes.size() && !add_line_byte(line, c.bytes[used++], c.max)) {
        }
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(used, c.used);
    }
}

TEST(RelayAnswers, RequestLines)
{
    EXPECT_EQ(register_request("-"), "OVRELAY1 A -\n");
    EXPECT_EQ(connect_request("42"), "OVRELAY1 C 42\n");
    EXPECT_EQ(status_request("42"), "OVRELAY1 S 42\n");
    EXPECT_EQ(version_request(), "OVRELAY1 V -\n");
}
