// Request parsing, line scanning, IDs and the command line of orvane-relay.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "relay/ids.hpp"
#include "relay/lookup_rate.hpp"
#include "relay/options.hpp"
#include "relay/protocol.hpp"

namespace orvane::relay {
namespace {

struct ParseCase {
    std::string line;
    ParseError error;
    Verb verb;
    std::string id;
};

TEST(RelayProtocol, ParsesRequestsAndRejectsEverythingElse) {
    const std::string id63(63, 'z');
    const std::vector<ParseCase> cases = {
        {"OVRELAY1 A -", ParseError::none, Verb::register_id, ""},
        {"OVRELAY1 A Office7", ParseError::none, Verb::register_id, "Office7"},
        {"OVRELAY1 A " + id63, ParseError::none, Verb::register_id, id63},
        {"OVRELAY1 C 123456789", ParseError::none, Verb::connect, "123456789"},
        {"OVRELAY1 S abc", ParseError::none, Verb::status, "abc"},
        {"OVRELAY1 V -", ParseError::none, Verb::version, ""},
        {"OVRELAY1 V -\r", ParseError::none, Verb::version, ""},
        {"OVR\rELAY1 S a\rb", ParseError::none, Verb::status, "ab"},
        {"OVRELAY1 A " + id63 + "z", ParseError::bad_id, {}, ""},
        {"OVRELAY1 C -", ParseError::bad_id, {}, ""},
        {"OVRELAY1 S -", ParseError::bad_id, {}, ""},
        {"OVRELAY1 V 1", ParseError::bad_id, {}, ""},
        {"OVRELAY1 A ab-c", ParseError::bad_id, {}, ""},
        {"OVRELAY1 A \xd0\xb8\xd0\xb4", ParseError::bad_id, {}, ""},
        {"OVRELAY1 X 1", ParseError::unknown_verb, {}, ""},
        {"OVRELAY1 a -", ParseError::unknown_verb, {}, ""},
        {"OVRELAY1 AA -", ParseError::unknown_verb, {}, ""},
        {"ovrelay1 V -", ParseError::bad_request, {}, ""},
        {"OVRELAY2 V -", ParseError::bad_request, {}, ""},
        {"OVRELAY1  V -", ParseError::bad_request, {}, ""},
        {"OVRELAY1 V - ", ParseError::bad_request, {}, ""},
        {" OVRELAY1 V -", ParseError::bad_request, {}, ""},
        {"OVRELAY1 V", ParseError::bad_request, {}, ""},
        {"OVRELAY1 A 1 2", ParseError::bad_request, {}, ""},
        {"OVRELAY1\tV -", ParseError::bad_request, {}, ""},
        {"", ParseError::bad_request, {}, ""},
        {std::string("OVRELAY1 S a\0b", 14), ParseError::bad_id, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const ParseResult result = parse_request(c.line);
        EXPECT_EQ(result.error, c.error);
        if (c.error == ParseError::none) {
            EXPECT_EQ(result.request.verb, c.verb);
            EXPECT_EQ(result.request.id, c.id);
        }
    }
}

TEST(RelayProtocol, FindsTheLineEndWithinTheBound) {
    struct Case {
        std::string received;
        LineStatus status;
        std::size_t length;
    };
    const std::string at_bound(max_line_bytes, 'a');
    const std::vector<Case> cases = {
        {"", LineStatus::incomplete, 0},
        {"OVRELAY1 V", LineStatus::incomplete, 0},
        {"\n", LineStatus::complete, 0},
        {"OVRELAY1 V -\nrest", LineStatus::complete, 12},
        {"a\nb\n", LineStatus::complete, 1},
        {at_bound, LineStatus::incomplete, 0},
        {at_bound + "\n", LineStatus::complete, max_line_bytes},
        {at_bound + "a", LineStatus::too_long, 0},
        {at_bound + "a\n", LineStatus::too_long, 0},
        {std::string(2 * max_line_bytes, '\0'), LineStatus::too_long, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.received.size());
        const LineScan scan = scan_line(c.received);
        EXPECT_EQ(scan.status, c.status);
        if (c.status == LineStatus::complete) {
            EXPECT_EQ(scan.length, c.length);
        }
    }
}

TEST(RelayProtocol, AnswerLinesAreExact) {
    EXPECT_EQ(id_answer("123456789"), "ID 123456789\n");
    EXPECT_EQ(version_answer("orvane-relay 1.2.3"), "VERSION orvane-relay 1.2.3\n");
    EXPECT_EQ(answer_ok, "OK\n");
    EXPECT_EQ(answer_online, "ONLINE\n");
    EXPECT_EQ(answer_offline, "OFFLINE\n");
    // Refusals must not look like any answer that means success.
    for (auto error : {ParseError::bad_request, ParseError::unknown_verb, ParseError::bad_id}) {
        const std::string_view text = error_answer(error);
        EXPECT_EQ(text.substr(0, 4), "ERR ");
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST(RelayIds, AssignedIdsAreNineDigitsSpreadAndNeverLive) {
    std::mt19937_64 rng(7);
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string id = random_id(rng);
        ASSERT_EQ(id.size(), 9u) << id;
        ASSERT_NE(id[0], '0');
        ASSERT_TRUE(is_valid_id(id));
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 1990u);

    // Everything the generator offers first is taken: it must keep drawing.
    std::mt19937_64 probe(11);
    std::set<std::string> live;
    for (int i = 0; i < 5; ++i) live.insert(random_id(probe));
    std::mt19937_64 same(11);
    const auto fresh = fresh_id(same, [&](std::string_view id) { return live.count(std::string(id)) > 0; });
    ASSERT_TRUE(fresh.has_value());
    EXPECT_EQ(live.count(*fresh), 0u);

    std::mt19937_64 any(3);
    EXPECT_FALSE(fresh_id(any, [](std::string_view) { return true; }).has_value());
}

TEST(RelayIds, NoFreshIdIsOneRegisteredOrInASession) {
    // Three IDs in all, so a wrong choice would show within a few draws.
    IdTable<int> ids;
    ids.range = {1, 3};
    std::mt19937_64 rng(5);
    ids.registered.emplace("1", 0);
    // "2" is in two sessions: its agent registered again as the first one
    // ended, before the relay saw that close, and took a second viewer.
    ids.start_session("2");
    ids.start_session("2");
    for (int i = 0; i < 50; ++i) ASSERT_EQ(ids.assign(rng), "3");
    ids.registered.emplace("3", 0);
    EXPECT_FALSE(ids.assign(rng).has_value());
    ids.end_session("2");
    EXPECT_FALSE(ids.assign(rng).has_value()) << "one session under 2 is still open";
    ids.end_session("2");
    EXPECT_EQ(ids.assign(rng), "2");
    ids.end_session("2");   // an extra end changes nothing
    ids.registered.erase("1");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) seen.insert(ids.assign(rng).value_or("none"));
    EXPECT_EQ(seen, (std::set<std::string>{"1", "2"}));
}

TEST(RelayOptions, ParsesTheCommandLine) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::string host;
        std::uint16_t port;
        std::size_t max_connections;
        std::size_t max_per_address;
    };
    const Options d;
    const std::vector<Case> cases = {
        {{}, true, "0.0.0.0", 56000, d.max_connections, d.max_per_address},
        {{"--listen", "127.0.0.1:0"}, true, "127.0.0.1", 0, d.max_connections, d.max_per_address},
        {{"--listen", "[::1]:56001"}, true, "::1", 56001, d.max_connections, d.max_per_address},
        {{"--max-connections", "5", "--max-per-address", "0"}, true, "0.0.0.0", 56000, 5, 0},
        {{"--max-lookups", "x"}, false, "", 0, 0, 0},
        {{"--listen", "127.0.0.1"}, false, "", 0, 0, 0},
        {{"--listen", "::1:5"}, false, "", 0, 0, 0},
        {{"--listen", "1.2.3.4:65536"}, false, "", 0, 0, 0},
        {{"--listen", "1.2.3.4:-1"}, false, "", 0, 0, 0},
        {{"--listen", "1.2.3.4:"}, false, "", 0, 0, 0},
        {{"--listen"}, false, "", 0, 0, 0},
        {{"--max-connections", "0"}, false, "", 0, 0, 0},
        {{"--max-connections", "12x"}, false, "", 0, 0, 0},
        {{"--port", "1"}, false, "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const OptionsResult r = parse_options(c.args);
        ASSERT_EQ(r.error.empty(), c.ok) << r.error;
        if (!c.ok) continue;
        EXPECT_EQ(r.options.host, c.host);
        EXPECT_EQ(r.options.port, c.port);
        EXPECT_EQ(r.options.max_connections, c.max_connections);
        EXPECT_EQ(r.options.max_per_address, c.max_per_address);
    }
    EXPECT_TRUE(parse_options({"--help"}).options.help);
    EXPECT_EQ(d.max_lookups, 300u);
    EXPECT_EQ(parse_options({"--max-lookups", "0"}).options.max_lookups, 0u);
}

TEST(RelayLookups, ABurstThenOneEveryFewSecondsPerAddress) {
    LookupLimiter limiter;
    limiter.per_minute = 6;   // a burst of 6, then one every 10 s
    const LookupClock::time_point t0{};
    const auto at = [&](double seconds) {
        return t0 + std::chrono::duration_cast<LookupClock::duration>(
                        std::chrono::duration<double>(seconds));
    };
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(take_lookup(limiter, "a", at(0)).allowed) << i;
    const LookupVerdict first = take_lookup(limiter, "a", at(1));
    EXPECT_FALSE(first.allowed);
    EXPECT_TRUE(first.first_refusal);
    EXPECT_FALSE(take_lookup(limiter, "a", at(9)).first_refusal);
    EXPECT_TRUE(take_lookup(limiter, "b", at(9)).allowed);  // its own bucket
    const LookupVerdict again = take_lookup(limiter, "a", at(10.5));
    EXPECT_TRUE(again.allowed);
    EXPECT_EQ(again.refused_before, 2u);
    EXPECT_FALSE(take_lookup(limiter, "a", at(11)).allowed);
    // Idle for long, the bucket is full again, never fuller than the burst.
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(take_lookup(limiter, "a", at(3600)).allowed) << i;
    EXPECT_FALSE(take_lookup(limiter, "a", at(3600)).allowed);

    LookupLimiter unbounded;
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(take_lookup(unbounded, "a", t0).allowed);
}

TEST(RelayLookups, ForgettingFullBucketsKeepsTheBusyOnes) {
    LookupLimiter limiter;
    limiter.per_minute = 2;
    const LookupClock::time_point t0{};
    for (int i = 0; i < 1023; ++i) take_lookup(limiter, "idle" + std::to_string(i), t0);
    take_lookup(limiter, "busy", t0 + std::chrono::seconds(60));
    take_lookup(limiter, "busy", t0 + std::chrono::seconds(60));
    // With 1024 held, the next lookup sweeps: the idle ones have refilled and
    // are forgotten; the busy one, drained a second ago, gets no fresh burst.
    EXPECT_FALSE(take_lookup(limiter, "busy", t0 + std::chrono::seconds(61)).allowed);
    EXPECT_EQ(limiter.buckets.size(), 1u);
}

}  // namespace
}  // namespace orvane::relay
