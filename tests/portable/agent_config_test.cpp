#include <gtest/gtest.h>

#include "app/agent_config.h"

TEST(AgentConfig, PortArgumentKeepsLow16BitsWithoutRangeCheck)
{
    struct Case { const char* arg; std::uint16_t port; };
    const Case cases[] = {
        {"55600", 55600}, {"65535", 65535}, {"65536", 0}, {"70000", 4464},
        {"0", 0}, {"abc", 0}, {"-1", 65535}, {"123xyz", 123},
    };
    for (const Case& c : cases)
        EXPECT_EQ(port_from_argument(c.arg), c.port) << c.arg;
}

TEST(AgentConfig, TemplateNamesTheRelayAndEndsEveryLine)
{
    auto lines = server_ini_template("relay.example", 443);
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[9], "[server]\n");
    EXPECT_EQ(lines[10], "port=55500\n");
    EXPECT_EQ(lines[14], "relay_host=relay.example\n");
    EXPECT_EQ(lines[15], "relay_port=443\n");
    EXPECT_EQ(lines[17], "accept_connections=1\n");
    for (const auto& line : lines)
        EXPECT_EQ(line.back(), '\n');
}

TEST(SharedText, CutsToCapacityLikeAFixedBuffer)
{
    SharedText<char, 4> text;
    text.set("abcdef");
    EXPECT_EQ(text.get(), "abc");
    text.set("");
    EXPECT_TRUE(text.empty());
}
