// The viewer's side of TLS against the real agent: pinned certificate,
// framed messages, and the message boxes of the failures.
#include <gtest/gtest.h>

#include <future>

#include "net/message_io.h"
#include "net/relay_client.h"
#include "net/tls.h"
#include "test_support.h"
#include "viewer/viewer.h"

namespace {

constexpr DWORD START_TIMEOUT = 20000;

SOCKET connect_loopback(std::uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Runs `attempt` on a thread and expects it to raise our message box, which
// is read and closed from here.
template <typename Attempt>
std::string box_raised_by(Attempt attempt)
{
    auto result = std::async(std::launch::async, attempt);
    HWND box = wait_for_dialog(GetCurrentProcessId(), START_TIMEOUT);
    std::string text = box ? dialog_text(box) : "<no box>";
    if (box)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(result.get(), nullptr);
    return text;
}

struct TlsClient : ::testing::Test {
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
    }
    // An agent whose certificate is `cert` (the test's own pinned copy is server.crt).
    void start_agent(Child& agent, TempDir& dir, const wchar_t* cert, std::uint16_t port)
    {
        install_agent(dir);
        const std::wstring certs = test_bin_dir() + L"test-certs\\";
        CopyFileW((certs + cert + L".crt").c_str(), dir.file(L"server.crt").c_str(), FALSE);
        CopyFileW((certs + cert + L".key").c_str(), dir.file(L"server.key").c_str(), FALSE);
        write_file(dir.file(L"server.ini"),
                   "[server]\nport=" + std::to_string(port) + "\npassword=pw\n");
        ASSERT_TRUE(start_orvane(agent, dir, {}));
        ASSERT_TRUE(agent.wait_for_output("Слушаю порт", START_TIMEOUT)) << agent.output();
    }
};

} // namespace

TEST_F(TlsClient, PinnedAgentAuthenticatesOverFramedMessages)
{
    TempDir dir;
    Child agent;
    start_agent(agent, dir, L"server", 55621);
    const SslCtxPtr ctx = open_viewer_tls_context();
    ASSERT_NE(ctx, nullptr);
    UniqueSocket s(connect_loopback(55621));
    ASSERT_TRUE(s);
    SslPtr session = viewer_tls_handshake(s.get(), ctx.get());
    ASSERT_NE(session, nullptr);
    SSL* ssl = session.get();
    TlsConnection connection(std::move(s), std::move(session));
    ASSERT_TRUE(send_msg(ssl, MSG_AUTH, "pw", 2));
    Message reply;
    ASSERT_TRUE(read_msg(ssl, reply));
    EXPECT_EQ(reply.type, MSG_AUTH_OK);
    EXPECT_EQ(reply.size, 0u);
    // A 300-byte ping goes out from the heap buffer and is read whole by the agent.
    std::string big(300, 'x');
    ASSERT_TRUE(send_msg(ssl, MSG_PING, big.data(), big.size()));
    // The session streams meanwhile: its monitor list and frames may come first.
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(read_msg(ssl, reply));
        const bool pong = reply.type == MSG_PONG;
        if (!pong)
            EXPECT_TRUE(reply.type == MSG_MONITOR_INFO || reply.type == MSG_FRAME) << int(reply.type);
        free_message(reply);
        if (pong)
            break;
        ASSERT_LT(i, 49) << "no MSG_PONG";
    }
    connection = TlsConnection();  // our farewell, then the socket closes
    EXPECT_TRUE(agent.wait_for_output("[-] Зритель отключился: 127.0.0.1:", START_TIMEOUT));
}

TEST_F(TlsClient, AnotherCertificateFailsWithItsMessageBox)
{
    TempDir dir;
    Child agent;
    start_agent(agent, dir, L"other", 55622);
    const SslCtxPtr ctx = open_viewer_tls_context();
    ASSERT_NE(ctx, nullptr);
    const UniqueSocket s(connect_loopback(55622));
    ASSERT_TRUE(s);
    EXPECT_NE(box_raised_by([&] { return viewer_tls_handshake(s.get(), ctx.get()); })
                  .find("TLS не удался (сертификат не тот или сервер не TLS)."),
              std::string::npos);
    EXPECT_TRUE(agent.wait_for_output("[!] Отклонено (TLS): 127.0.0.1:", START_TIMEOUT));
}

// A pinned server.crt that is missing, or present but holding no certificate,
// stops the viewer before any connection, each with a box the user sees.
TEST_F(TlsClient, MissingOrUnreadablePinnedCertificateStopsBeforeAnyConnection)
{
    const char* unreadable = "Не удалось прочитать сертификат из файла server.crt рядом с приложением.";
    const struct {
        const char* content;  // null: no file at all
        const char* message;
    } cases[] = {
        {nullptr, "Нет файла server.crt рядом с приложением."},
        {"", unreadable},
        {"-----BEGIN CERTIFICATE-----\nnot a certificate\n-----END CERTIFICATE-----\n", unreadable},
    };
    const std::wstring crt = test_bin_dir() + L"server.crt";
    const std::wstring aside = crt + L".aside";
    for (const auto& c : cases) {
        ASSERT_TRUE(MoveFileW(crt.c_str(), aside.c_str()));
        if (c.content)
            write_file(crt, c.content);
        std::string text = box_raised_by([] { return open_viewer_tls_context(); });
        DeleteFileW(crt.c_str());
        ASSERT_TRUE(MoveFileW(aside.c_str(), crt.c_str()));
        EXPECT_NE(text.find(c.message), std::string::npos) << (c.content ? c.content : "") << text;
    }
}

// The saved-computers probe only opens and closes a TCP connection, every few
// seconds: the agent must not count it as a failed attempt, or every user
// with a saved direct computer would soon ban their own address.
TEST_F(TlsClient, ProbesOfAnAgentAreNotFailedAttempts)
{
    TempDir dir;
    Child agent;
    start_agent(agent, dir, L"server", 55623);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(probe_tcp("127.0.0.1", 55623), 1) << i;
    // A connection that does send something and fails is still counted, as the first.
    SOCKET s = connect_loopback(55623);
    ASSERT_NE(s, INVALID_SOCKET);
    send(s, "hello\r\n", 7, 0);
    char reply = 0;
    EXPECT_LE(recv(s, &reply, 1, 0), 0);  // closed, or reset for the bytes it left unread
    closesocket(s);
    EXPECT_TRUE(agent.wait_for_output("[!] Неудачная попытка 1/5: 127.0.0.1:", START_TIMEOUT))
        << agent.output();
    EXPECT_EQ(agent.output().find("[!] Отклонено (TLS)"),
              agent.output().rfind("[!] Отклонено (TLS)"))
        << agent.output();
    EXPECT_EQ(agent.output().find("ЗАБАНЕН"), std::string::npos) << agent.output();
}

TEST_F(TlsClient, ProbeAnswers)
{
    const unsigned closed_port = closed_loopback_port();

    struct Case {
        const char* host;
        unsigned port;
        int expected;
    };
    const Case cases[] = {
        {"127.0.0.1", closed_port, 0},
        {"no-such-host.invalid", 55500, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(probe_tcp(c.host, c.port), c.expected) << c.host << ":" << c.port;
}
