#include <gtest/gtest.h>

#include <vector>

#include "service/session_choice.h"

// Session 0 is the services' own and never active; the console here is 7.
TEST(SessionChoice, FirstActiveSessionElseTheConsole)
{
    struct Case {
        const char* what;
        std::vector<SessionEntry> listed;
        std::uint32_t console;
        std::uint32_t chosen;
    };
    const Case cases[] = {
        {"first active one", {{0, false}, {3, false}, {5, true}, {6, true}}, 7, 5},
        {"none active", {{0, false}, {3, false}}, 7, 7},
        {"enumeration failed or empty", {}, 7, 7},
        {"active one without an identifier", {{NO_SESSION, true}, {4, true}}, 7, 7},
        {"no console session either", {{0, false}}, NO_SESSION, NO_SESSION},
    };
    for (const Case& c : cases)
        EXPECT_EQ(choose_agent_session(c.listed, c.console), c.chosen) << c.what;
}
