// A request line that never ends is cut off after 10 s; in its own test
// binary so the wait overlaps the other relay tests.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "relay_process.hpp"

namespace orvane::relay::test {
namespace {

TEST(RelayTimeout, UnfinishedRequestLinesAreCutOffAfterTenSeconds) {
    RelayProcess relay = start_relay();
    const auto start = std::chrono::steady_clock::now();
    Client silent = connect_to(relay.port);
    Client dripping = connect_to(relay.port);
    ASSERT_TRUE(send_all(silent, "OVRELAY1 V"));
    bool dripping_cut = false;
    // One byte a second keeps the connection busy but never ends the line.
    for (int i = 0; i < 14 && !dripping_cut; ++i) {
        send_all(dripping, "A");
        dripping_cut = wait_closed(dripping, 1000);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(dripping_cut);
    EXPECT_GE(seconds, 9.5);
    EXPECT_LE(seconds, 12.5);
    std::string line;
    ASSERT_TRUE(read_line(silent, line, 3000));
    EXPECT_EQ(line, "ERR timeout");
    EXPECT_TRUE(wait_closed(silent));
    EXPECT_EQ(ask(relay.port, "OVRELAY1 V -\n").substr(0, 8), "VERSION ");
    EXPECT_EQ(count_occurrences(read_log(relay), "no request line within 10 s"), 2u);
    EXPECT_EQ(stop_relay(relay), 0);
}

}  // namespace
}  // namespace orvane::relay::test
