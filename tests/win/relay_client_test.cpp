// The agent's relay requests and the reachability poller against the real
// orvane-relay.exe (the Windows build of the relay) and a one-answer fake.
#include <gtest/gtest.h>

#include <thread>

#include "app/agent_state.h"
#include "net/relay_client.h"
#include "test_support.h"
#include "ui/reachability.h"
#include "ui/ui_state.h"

namespace {

constexpr unsigned RELAY_PORT = 56110;
constexpr DWORD WAIT_MS = 20000;

// Answers one request line with `answer` and closes.
std::thread fake_relay_once(SOCKET listener, std::string answer)
{
    return std::thread([listener, answer] {
        SOCKET s = accept(listener, nullptr, nullptr);
        std::string line;
        read_relay_line(s, 100, line);
        send(s, answer.data(), int(answer.size()), 0);
        closesocket(s);
    });
}

struct RelayClient : ::testing::Test {
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
    }
    void start_relay()
    {
        ASSERT_TRUE(start_process(relay, test_bin_dir() + L"orvane-relay.exe", test_bin_dir(),
                                  {"--listen", "127.0.0.1:" + std::to_string(RELAY_PORT)}));
        ASSERT_TRUE(relay.wait_for_output("listening on", WAIT_MS)) << relay.output();
    }
    // Registers with "-" and returns the socket; the assigned ID in `id`.
    UniqueSocket register_agent(std::string& id)
    {
        UniqueSocket s = relay_connect("127.0.0.1", RELAY_PORT, "OVRELAY1 A -\n");
        std::string line;
        if (!s || !read_relay_line(s.get(), 79, line) || line.rfind("ID ", 0) != 0)
            return UniqueSocket();
        id = line.substr(3);
        return s;
    }
    void TearDown() override { relay.kill(); }
    Child relay;
};

} // namespace

TEST_F(RelayClient, RegisterStatusAndJoinThroughTheWindowsRelay)
{
    start_relay();
    std::string id;
    UniqueSocket registered = register_agent(id);
    ASSERT_TRUE(registered);
    EXPECT_EQ(id.size(), 9u) << id;
    EXPECT_EQ(relay_query_status("127.0.0.1", RELAY_PORT, id, 3000), 1);
    EXPECT_EQ(relay_query_status("127.0.0.1", RELAY_PORT, "000000000", 3000), 0);

    UniqueSocket joined = relay_connect("127.0.0.1", RELAY_PORT, "OVRELAY1 C " + id + "\n");
    ASSERT_TRUE(joined);
    const SOCKET viewer = joined.get();
    std::string line;
    ASSERT_TRUE(read_relay_line(viewer, 63, line));
    EXPECT_EQ(line, "OK");
    ASSERT_TRUE(read_relay_line(registered.get(), 63, line));
    EXPECT_EQ(line, "OK");
    // The joined pair is a plain pipe both ways.
    send(viewer, "ping\n", 5, 0);
    ASSERT_TRUE(read_relay_line(registered.get(), 63, line));
    EXPECT_EQ(line, "ping");
    send(registered.get(), "pong\n", 5, 0);
    ASSERT_TRUE(read_relay_line(viewer, 63, line));
    EXPECT_EQ(line, "pong");
    joined.reset();
    // The registration went with the join.
    EXPECT_EQ(relay_query_status("127.0.0.1", RELAY_PORT, id, 3000), 0);
}

// Only the exact words count; anything else, a close or silence is unclear.
TEST_F(RelayClient, StatusAnswers)
{
    struct Case {
        const char* answer;  // null: the relay keeps quiet past the time-out
        int status;
    };
    const Case cases[] = {
        {"ONLINE\n", 1}, {"OFFLINE\r\n", 0}, {"online\n", -1}, {"ONLINE \n", -1},
        {"ONLINE", -1},  // closed before the line ended
        {"", -1}, {nullptr, -1},
    };
    for (const Case& c : cases) {
        std::uint16_t port = 0;
        SOCKET listener = listen_loopback(port);
        std::thread fake;
        if (c.answer) {
            fake = fake_relay_once(listener, c.answer);
        } else {
            fake = std::thread([listener] {
                SOCKET s = accept(listener, nullptr, nullptr);
                Sleep(1500);
                closesocket(s);
            });
        }
        const char* shown = c.answer ? c.answer : "(silence)";
        EXPECT_EQ(relay_query_status("127.0.0.1", port, "42", 500), c.status) << shown;
        fake.join();
        closesocket(listener);
    }
}

TEST_F(RelayClient, VersionAnswers)
{
    struct Case {
        const char* answer;
        bool ok;
        const char* version;
    };
    const Case cases[] = {
        {"VERSION test relay 7\r\n", true, "test relay 7"},
        {"VERSION \n", true, ""},
        {"version x\n", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        std::uint16_t port = 0;
        SOCKET listener = listen_loopback(port);
        std::thread fake = fake_relay_once(listener, c.answer);
        std::string version = "stale";
        EXPECT_EQ(relay_query_version("127.0.0.1", port, version), c.ok) << c.answer;
        EXPECT_EQ(version, c.version) << c.answer;
        fake.join();
        closesocket(listener);
    }
}

// One poller pass: the relay's version for the footer, a registered relay
// computer reachable, a direct one on a closed port not.
TEST_F(RelayClient, PollerFillsReachabilityAndRelayInfo)
{
    start_relay();
    std::string id;
    UniqueSocket registered = register_agent(id);
    ASSERT_TRUE(registered);
    const std::uint16_t closed_port = closed_loopback_port();

    agent.config.relay_host = "127.0.0.1";
    agent.config.relay_port = RELAY_PORT;
    init_saved_list_lock();
    EnterCriticalSection(&ui.saved_list_lock);
    ServerEntry by_relay;
    by_relay.relay_host = L"127.0.0.1";
    by_relay.relay_port = RELAY_PORT;
    by_relay.relay_id = wide(id);
    ServerEntry direct;
    direct.host = L"127.0.0.1";
    direct.port = closed_port;
    ui.saved_list = {by_relay, direct};
    ui.reachability = {-1, -1};
    LeaveCriticalSection(&ui.saved_list_lock);

    UniqueHandle poller(CreateThread(nullptr, 0, reachability_poller, nullptr, 0, nullptr));
    ASSERT_TRUE(poller);
    std::vector<int> seen;
    for (DWORD waited = 0; waited < WAIT_MS; waited += 100) {
        EnterCriticalSection(&ui.saved_list_lock);
        seen = ui.reachability;
        LeaveCriticalSection(&ui.saved_list_lock);
        if (seen == std::vector<int>{1, 0})
            break;
        Sleep(100);
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));
    EXPECT_EQ(agent.relay_info.get().rfind("orvane-relay", 0), 0u) << agent.relay_info.get();
    // The poller runs for the life of the process, as in the agent.
}
