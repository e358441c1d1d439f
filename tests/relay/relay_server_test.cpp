// The real orvane-relay process on loopback: answers, registrations, joined
// pipes, hostile input and connection bounds.
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "relay_process.hpp"

namespace orvane::relay::test {
namespace {

class RelayServer : public testing::Test {
protected:
    static void SetUpTestSuite() { relay_ = start_relay(); }
    static void TearDownTestSuite() { EXPECT_EQ(stop_relay(relay_), 0); }
    static std::uint16_t port() { return relay_.port; }
    static RelayProcess relay_;
};
RelayProcess RelayServer::relay_;

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

// Registers and returns the agent's connection; the ID goes to id.
Client register_agent(std::uint16_t port, const std::string& wanted, std::string& id) {
    Client agent = connect_to(port);
    std::string line;
    EXPECT_TRUE(send_all(agent, "OVRELAY1 A " + wanted + "\n"));
    EXPECT_TRUE(read_line(agent, line));
    EXPECT_EQ(line.substr(0, 3), "ID ") << line;
    id = line.size() > 3 ? line.substr(3) : "";
    return agent;
}

struct Pair {
    Client agent;
    Client viewer;
};

Pair joined_pair(std::uint16_t port) {
    Pair pair;
    std::string id, line;
    pair.agent = register_agent(port, "-", id);
    pair.viewer = connect_to(port);
    EXPECT_TRUE(send_all(pair.viewer, "OVRELAY1 C " + id + "\n"));
    EXPECT_TRUE(read_line(pair.viewer, line));
    EXPECT_EQ(line, "OK");
    EXPECT_TRUE(read_line(pair.agent, line));
    EXPECT_EQ(line, "OK");
    return pair;
}

// Waits (bounded) until the relay reports the wanted status for an ID.
bool status_becomes(std::uint16_t port, const std::string& id, const std::string& wanted) {
    for (int i = 0; i < 100; ++i) {
        if (ask(port, "OVRELAY1 S " + id + "\n") == wanted) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(RelayServer, AnswersEachRequestAndClosesAfterOneAnswer) {
    struct Case {
        std::string request;
        std::string answer;   // a trailing '*' matches any rest of the line
    };
    const std::string id63(63, 'q');
    const std::vector<Case> cases = {
        {"OVRELAY1 V -\n", "VERSION orvane-relay *"},
        {"OVRELAY1 V -\r\n", "VERSION orvane-relay *"},
        {"OVRELAY1 S 123456789\n", "OFFLINE"},
        {"OVRELAY1 S " + id63 + "\n", "OFFLINE"},
        {"OVRELAY1 C nobody\n", "ERR offline"},
        {"OVRELAY1 X 1\n", "ERR unknown request"},
        {"OVRELAY1 A bad-id\n", "ERR bad id"},
        {"OVRELAY1 A " + id63 + "q\n", "ERR bad id"},
        {"OVRELAY1 S -\n", "ERR bad id"},
        {"ovrelay1 V -\n", "ERR bad request"},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "ERR bad request"},
        {std::string("\0\xff\x01\x80garbage\n", 12), "ERR bad request"},
        {"\n", "ERR bad request"},
        {std::string(256, 'A') + "\n", "ERR bad request"},
        {std::string(257, 'A') + "\n", "ERR line too long"},
        {std::string(5000, '\x7f'), "ERR line too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 40));
        Client client = connect_to(port());
        ASSERT_TRUE(send_all(client, c.request));
        std::string line;
        ASSERT_TRUE(read_line(client, line));
        if (c.answer.back() == '*') {
            const std::string prefix = c.answer.substr(0, c.answer.size() - 1);
            EXPECT_EQ(line.substr(0, prefix.size()), prefix);
            EXPECT_LE(line.size(), 63u + 8u);
        } else {
            EXPECT_EQ(line, c.answer);
        }
        EXPECT_TRUE(wait_closed(client));
    }
    EXPECT_EQ(ask(port(), "OVRELAY1 V -\n").substr(0, 8), "VERSION ");
}

TEST_F(RelayServer, RegistrationLivesExactlyAsLongAsItsConnection) {
    std::string id;
    Client agent = register_agent(port(), "-", id);
    ASSERT_EQ(id.size(), 9u);
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(ask(port(), "OVRELAY1 S " + id + "\n"), "ONLINE");

    // A second registration of a live ID is refused and closed; the first stays.
    Client rival = connect_to(port());
    std::string line;
    ASSERT_TRUE(send_all(rival, "OVRELAY1 A " + id + "\n"));
    ASSERT_TRUE(read_line(rival, line));
    EXPECT_EQ(line, "ERR id in use");
    EXPECT_TRUE(wait_closed(rival));
    EXPECT_EQ(ask(port(), "OVRELAY1 S " + id + "\n"), "ONLINE");

    agent.close();
    EXPECT_TRUE(status_becomes(port(), id, "OFFLINE"));

    // The agent comes back with the ID it was given.
    std::string again;
    Client back = register_agent(port(), id, again);
    EXPECT_EQ(again, id);
    EXPECT_EQ(ask(port(), "OVRELAY1 S " + id + "\n"), "ONLINE");

    std::string chosen;
    Client named = register_agent(port(), "Office7", chosen);
    EXPECT_EQ(chosen, "Office7");
    EXPECT_EQ(ask(port(), "OVRELAY1 S office7\n"), "OFFLINE");
}

TEST_F(RelayServer, AssignedIdsAreDistinct) {
    std::vector<Client> agents;
    std::vector<std::string> ids;
    for (int i = 0; i < 40; ++i) {
        std::string id;
        agents.push_back(register_agent(port(), "-", id));
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

TEST_F(RelayServer, JoinedPairCarriesEveryByteBothWays) {
    Pair pair = joined_pair(port());
    const std::string to_agent = random_bytes(3 << 20, 1);
    const std::string to_viewer = random_bytes(2 << 20, 2);
    std::string at_agent, at_viewer;
    std::thread viewer_sends([&] { send_all(pair.viewer, to_agent); });
    std::thread agent_sends([&] { send_all(pair.agent, to_viewer); });
    std::thread viewer_reads([&] { read_exact(pair.viewer, at_viewer, to_viewer.size()); });
    read_exact(pair.agent, at_agent, to_agent.size());
    viewer_sends.join();
    agent_sends.join();
    viewer_reads.join();
    EXPECT_TRUE(at_agent == to_agent);
    EXPECT_TRUE(at_viewer == to_viewer);
}

TEST_F(RelayServer, ClosingEitherSideDeliversWhatWasSentThenClosesTheOther) {
    for (const bool agent_closes : {true, false}) {
        SCOPED_TRACE(agent_closes ? "agent closes" : "viewer closes");
        Pair pair = joined_pair(port());
        Client& closer = agent_closes ? pair.agent : pair.viewer;
        Client& other = agent_closes ? pair.viewer : pair.agent;
        const std::string last_words = random_bytes(512 << 10, 3);
        std::thread sender([&] {
            send_all(closer, last_words);
            closer.close();
        });
        std::string received;
        EXPECT_TRUE(read_exact(other, received, last_words.size()));
        sender.join();
        EXPECT_TRUE(received == last_words);
        EXPECT_TRUE(wait_closed(other));
    }
}

TEST_F(RelayServer, JoinConsumesTheRegistration) {
    std::string id, line;
    Client agent = register_agent(port(), "-", id);
    Client viewer = connect_to(port());
    ASSERT_TRUE(send_all(viewer, "OVRELAY1 C " + id + "\n"));
    ASSERT_TRUE(read_line(viewer, line));
    ASSERT_EQ(line, "OK");
    EXPECT_EQ(ask(port(), "OVRELAY1 S " + id + "\n"), "OFFLINE");
    Client second = connect_to(port());
    ASSERT_TRUE(send_all(second, "OVRELAY1 C " + id + "\n"));
    ASSERT_TRUE(read_line(second, line));
    EXPECT_EQ(line, "ERR offline");
    EXPECT_TRUE(wait_closed(second));
}

TEST_F(RelayServer, BytesRightBehindTheLinesStayInThePipe) {
    // The viewer sends its first bytes in the same segment as its request,
    // and the agent answers the moment it sees "OK".
    std::string id, line, got;
    Client agent = register_agent(port(), "-", id);
    Client viewer = connect_to(port());
    ASSERT_TRUE(send_all(viewer, "OVRELAY1 C " + id + "\n\x16\x03\x01hello"));
    ASSERT_TRUE(read_line(agent, line));
    EXPECT_EQ(line, "OK");
    ASSERT_TRUE(read_exact(agent, got, 8));
    EXPECT_EQ(got, "\x16\x03\x01hello");
    ASSERT_TRUE(send_all(agent, "\x16\x03\x03server"));
    ASSERT_TRUE(read_line(viewer, line));
    EXPECT_EQ(line, "OK");
    ASSERT_TRUE(read_exact(viewer, got, 9));
    EXPECT_EQ(got, "\x16\x03\x03server");
}

TEST_F(RelayServer, TwoPairsPipeAtOnceWithoutCrosstalk) {
    Pair first = joined_pair(port());
    Pair second = joined_pair(port());
    std::vector<std::thread> threads;
    std::string got[4];
    const std::string sent[4] = {random_bytes(1 << 20, 10), random_bytes(1 << 20, 11),
                                 random_bytes(1 << 20, 12), random_bytes(1 << 20, 13)};
    Client* from[4] = {&first.viewer, &first.agent, &second.viewer, &second.agent};
    Client* to[4] = {&first.agent, &first.viewer, &second.agent, &second.viewer};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] { send_all(*from[i], sent[i]); });
        threads.emplace_back([&, i] { read_exact(*to[i], got[i], sent[i].size()); });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(got[i] == sent[i]) << "stream " << i;
}

TEST_F(RelayServer, AgentTalkingBeforeAViewerLosesItsRegistration) {
    std::string id, line;
    Client agent = register_agent(port(), "-", id);
    ASSERT_TRUE(send_all(agent, "unsolicited"));
    ASSERT_TRUE(read_line(agent, line));
    EXPECT_EQ(line, "ERR unexpected data");
    EXPECT_TRUE(wait_closed(agent));
    EXPECT_TRUE(status_becomes(port(), id, "OFFLINE"));

    // Data glued to the register request is refused before registering.
    Client eager = connect_to(port());
    ASSERT_TRUE(send_all(eager, "OVRELAY1 A Eager1\nsurprise"));
    ASSERT_TRUE(read_line(eager, line));
    EXPECT_EQ(line, "ERR unexpected data");
    EXPECT_EQ(ask(port(), "OVRELAY1 S Eager1\n"), "OFFLINE");
}

TEST_F(RelayServer, HostileClientsDoNotDisturbOthersAndAreLoggedOnce) {
    std::vector<Client> idle;
    for (int i = 0; i < 300; ++i) idle.push_back(connect_to(port()));
    Client flood = connect_to(port());
    const std::uint16_t flood_port = local_port(flood);
    std::thread flooder([&] { send_all(flood, random_bytes(4 << 20, 5)); });

    // Everyone else is served meanwhile, and a pair still pipes.
    EXPECT_EQ(ask(port(), "OVRELAY1 S 999999999\n"), "OFFLINE");
    Pair pair = joined_pair(port());
    ASSERT_TRUE(send_all(pair.viewer, "ping"));
    std::string got;
    ASSERT_TRUE(read_exact(pair.agent, got, 4));
    EXPECT_EQ(got, "ping");

    EXPECT_TRUE(wait_closed(flood));
    flooder.join();
    idle.clear();
    const std::string needle = ":" + std::to_string(flood_port) + ":";
    EXPECT_TRUE(wait_for_log(relay_, needle));
    EXPECT_EQ(count_occurrences(read_log(relay_), needle), 1u);
}

TEST_F(RelayServer, RegistrationsUseKeepAlive) {
    // Linux shows a socket's pending timer in /proc/net/tcp: kind 2 is the
    // keep-alive timer; its due time (in 1/100 s) shows the idle setting.
    std::string id;
    Client agent = register_agent(port(), "-", id);
    char local[16], remote[16];
    std::snprintf(local, sizeof local, ":%04X", port());
    std::snprintf(remote, sizeof remote, ":%04X", local_port(agent));
    std::ifstream table("/proc/net/tcp");
    std::string row;
    bool found = false;
    while (std::getline(table, row)) {
        std::istringstream fields(row);
        std::string slot, local_address, remote_address, state, queues, timer;
        fields >> slot >> local_address >> remote_address >> state >> queues >> timer;
        if (!local_address.ends_with(local) || !remote_address.ends_with(remote)) continue;
        found = true;
        ASSERT_EQ(timer.substr(0, 3), "02:") << row;
        const long due = std::stol(timer.substr(3), nullptr, 16);
        EXPECT_GT(due, 2500);
        EXPECT_LE(due, 3000);
    }
    EXPECT_TRUE(found);
}

TEST(RelayBounds, OverTheConnectionBoundNewcomersAreRefusedUntilRoomFrees) {
    RelayProcess relay = start_relay({"--max-connections", "4", "--max-per-address", "0"});
    std::vector<Client> held;
    std::string id;
    for (int i = 0; i < 4; ++i) held.push_back(register_agent(relay.port, "-", id));
    for (int i = 0; i < 3; ++i) {
        Client extra = connect_to(relay.port);
        std::string line;
        ASSERT_TRUE(read_line(extra, line));
        EXPECT_EQ(line, "ERR server full");
        EXPECT_TRUE(wait_closed(extra));
    }
    EXPECT_EQ(count_occurrences(read_log(relay), "connection limit reached"), 1u);
    held.pop_back();
    // Any request before the relay has seen that close would be refused too
    // and change the count, so wait for its close line first: the relay logs
    // it and forgets the connection in one step, before it accepts again.
    EXPECT_TRUE(wait_for_log(relay, "close id=" + id + " ")) << read_log(relay);
    // One request only: while its connection lingers the relay is full again.
    EXPECT_EQ(ask(relay.port, "OVRELAY1 V -\n").substr(0, 8), "VERSION ");
    EXPECT_EQ(count_occurrences(read_log(relay), "3 connections were refused"), 1u);
    EXPECT_TRUE(status_becomes(relay.port, id, "OFFLINE"));
    held.clear();
    EXPECT_EQ(stop_relay(relay), 0);
}

TEST(RelayBounds, OneAddressCannotTakeMoreThanItsShare) {
    RelayProcess relay = start_relay({"--max-per-address", "2"});
    Client a = connect_to(relay.port);
    Client b = connect_to(relay.port);
    std::string line;
    Client c = connect_to(relay.port);
    ASSERT_TRUE(read_line(c, line));
    EXPECT_EQ(line, "ERR server full");
    a.close();
    // Room again once one of them is gone.
    std::string answer;
    for (int i = 0; i < 100 && answer.empty(); ++i) {
        answer = ask(relay.port, "OVRELAY1 V -\n");
        if (answer.substr(0, 4) == "ERR ") answer.clear();
        if (answer.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(answer.substr(0, 8), "VERSION ");
    EXPECT_EQ(count_occurrences(read_log(relay), "reached the per-address limit"), 1u);
    b.close();
    EXPECT_EQ(stop_relay(relay), 0);
}

TEST(RelayBounds, LookupsFromOneAddressAreBoundedAndOthersAreNot) {
    RelayProcess relay = start_relay({"--max-lookups", "3"});
    std::string id;
    Client agent = register_agent(relay.port, "Lookup1", id);
    // Neither version requests nor registrations are lookups.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ask(relay.port, "OVRELAY1 V -\n").substr(0, 8), "VERSION ");
    EXPECT_EQ(ask(relay.port, "OVRELAY1 S Lookup1\n"), "ONLINE");
    EXPECT_EQ(ask(relay.port, "OVRELAY1 S 123456789\n"), "OFFLINE");
    EXPECT_EQ(ask(relay.port, "OVRELAY1 C 123456789\n"), "ERR offline");
    // The burst is spent: status and connect are refused alike, even for a live ID.
    for (const char* request : {"OVRELAY1 S Lookup1\n", "OVRELAY1 C Lookup1\n"}) {
        Client c = connect_to(relay.port);
        std::string line;
        ASSERT_TRUE(send_all(c, request));
        ASSERT_TRUE(read_line(c, line));
        EXPECT_EQ(line, "ERR too many requests") << request;
        EXPECT_TRUE(wait_closed(c));
    }
    EXPECT_EQ(ask(relay.port, "OVRELAY1 S Lookup1\n"), "ERR too many requests");  // still registered
    // Another address has its own bucket.
    Client other = connect_to(relay.port, "127.0.0.2");
    std::string line;
    ASSERT_TRUE(send_all(other, "OVRELAY1 S Lookup1\n"));
    ASSERT_TRUE(read_line(other, line));
    EXPECT_EQ(line, "ONLINE");
    EXPECT_EQ(count_occurrences(read_log(relay), "127.0.0.1 is over the lookup bound (3 a minute)"),
              1u)
        << read_log(relay);
    EXPECT_EQ(stop_relay(relay), 0);
}

TEST(RelayCommandLine, HelpNamesTheBoundAndBadOptionsFail) {
    const std::string binary = relay_binary();
    const std::string help_cmd = "'" + binary + "' --help";
    FILE* pipe = ::popen(help_cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string help;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) help += buffer;
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_NE(help.find("--listen ADDR:PORT"), std::string::npos);
    EXPECT_NE(help.find("--max-connections"), std::string::npos);
    EXPECT_NE(help.find("0.0.0.0:56000"), std::string::npos);
    EXPECT_NE(help.find("A joined pair adds at most"), std::string::npos);
    EXPECT_NE(help.find("--max-lookups N        connect and status requests one address may\n"
                        "                         make a minute (default 300"),
              std::string::npos)
        << help;
    EXPECT_NE(std::system(("'" + binary + "' --listen nowhere >/dev/null 2>&1").c_str()), 0);
}

}  // namespace
}  // namespace orvane::relay::test
