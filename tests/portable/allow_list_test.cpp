#include <gtest/gtest.h>

#include "host/allow_list.h"

TEST(AllowList, WholeEntriesWithBlanksAroundThem)
{
    struct Case { const char* allow; const char* address; bool allowed; };
    const Case cases[] = {
        {" 192.168.1.10 , 192.168.1.20", "192.168.1.10", true},
        {" 192.168.1.10 , 192.168.1.20", "192.168.1.20", true},
        {" 192.168.1.10 , 192.168.1.20", "192.168.1.2", false},
        {"\t10.0.0.1\t,\t10.0.0.2", "10.0.0.2", true},
        {"10.0.0.1", "10.0.0.10", false},
        {"10.0.0.10", "10.0.0.1", false},
        {"10.0.0.0/24", "10.0.0.5", false},  // no masks
        {" , ,, ", "10.0.0.1", false},
        {",,", "", false},
        {"", "10.0.0.1", false},
        {"10.0.0.1,,10.0.0.3,", "10.0.0.3", true},
        {"Host.Name", "host.name", true},  // case-insensitive text match
        {"10.0.0. 1", "10.0.0.1", false},  // inner blanks stay
    };
    for (const Case& c : cases)
        EXPECT_EQ(address_allowed(c.allow, c.address), c.allowed)
            << "allow='" << c.allow << "' address='" << c.address << "'";
}

TEST(AllowList, OnlyTheFirst511CharactersCount)
{
    std::string allow(505, ' ');
    allow += ",1.2.3.4";  // the entry straddles the cut at 511
    EXPECT_FALSE(address_allowed(allow, "1.2.3.4"));
    EXPECT_TRUE(address_allowed(allow, "1.2.3"));
}
