// The agent's session in-process: what the interface reads while a viewer is
// connected (agent.viewer_connected and the viewer's name) is set once the password
// is accepted and cleared again when the viewer goes, and never set for a
// viewer that fails to authenticate.
#include <gtest/gtest.h>
#include <objidl.h>
#include <gdiplus.h>
#include <openssl/ssl.h>

#include <cstring>
#include <functional>
#include <thread>

#include "app/agent_state.h"
#include "host/session.h"
#include "net/message_io.h"
#include "test_support.h"

namespace {

constexpr DWORD WAIT_MS = 20000;

bool wait_until(const std::function<bool()>& condition)
{
    for (DWORD waited = 0; waited < WAIT_MS && !condition(); waited += 20)
        Sleep(20);
    return condition();
}

SSL_CTX* agent_context()
{
    const std::string certs = utf8(test_bin_dir()) + "test-certs\\server";
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx, (certs + ".crt").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, (certs + ".key").c_str(), SSL_FILETYPE_PEM);
    return ctx;
}

// A viewer over loopback: TLS (no pinning needed here) and MSG_AUTH.
struct TestViewer {
    explicit TestViewer(std::uint16_t port)
    {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        ctx = SSL_CTX_new(TLS_client_method());
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return;
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, int(s));
        connected = SSL_connect(ssl) > 0;
    }
    ~TestViewer() { hang_up(); }

    // The type of the next message, or -1 when the connection ended.
    int next_type()
    {
        Message m;
        if (!ssl || !read_msg(ssl, m))
            return -1;
        const int type = m.type;
        free_message(m);
        return type;
    }
    void hang_up()
    {
        if (ssl)
            SSL_free(ssl);
        ssl = nullptr;
        if (s != INVALID_SOCKET)
            closesocket(s);
        s = INVALID_SOCKET;
        if (ctx)
            SSL_CTX_free(ctx);
        ctx = nullptr;
    }

    SOCKET s = INVALID_SOCKET;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    bool connected = false;
};

struct SessionState : ::testing::Test {
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr);
    }
    void SetUp() override
    {
        agent.config.current_password.set("Sekr3t");
        ctx = agent_context();
        listener = listen_loopback(port);
        // One session on a thread of its own, as on the accept thread.
        session_thread = std::thread([this] {
            SOCKET s = accept(listener, nullptr, nullptr);
            if (s != INVALID_SOCKET)
                run_viewer_session(UniqueSocket(s), ctx, "127.0.0.1:test", nullptr);
            session_over = true;
        });
    }
    void TearDown() override
    {
        closesocket(listener);
        session_thread.join();
        SSL_CTX_free(ctx);
    }

    static ULONG_PTR gdiplus_token;
    SSL_CTX* ctx = nullptr;
    SOCKET listener = INVALID_SOCKET;
    std::uint16_t port = 0;
    std::thread session_thread;
    std::atomic<bool> session_over{false};
};
ULONG_PTR SessionState::gdiplus_token = 0;

TEST_F(SessionState, SetWhileAnAuthorisedViewerStreamsAndClearedWhenItLeaves)
{
    ASSERT_FALSE(agent.viewer_connected);
    TestViewer viewer(port);
    ASSERT_TRUE(viewer.connected);
    ASSERT_TRUE(send_msg(viewer.ssl, MSG_AUTH, "Sekr3t", 6));
    ASSERT_EQ(viewer.next_type(), MSG_AUTH_OK);
    // Frames flowing show the session is in its streaming loop.
    int frames = 0;
    for (int i = 0; i < 50 && frames < 2; ++i)
        frames += viewer.next_type() == MSG_FRAME;
    ASSERT_EQ(frames, 2);
    EXPECT_TRUE(agent.viewer_connected);
    EXPECT_EQ(agent.viewer_name.get(), L"127.0.0.1:test");

    viewer.hang_up();
    ASSERT_TRUE(wait_until([this] { return session_over.load(); }));
    EXPECT_FALSE(agent.viewer_connected);
    EXPECT_EQ(agent.viewer_name.get(), L"");
}

TEST_F(SessionState, NeverSetForAWrongPassword)
{
    TestViewer viewer(port);
    ASSERT_TRUE(viewer.connected);
    ASSERT_TRUE(send_msg(viewer.ssl, MSG_AUTH, "wrong", 5));
    EXPECT_EQ(viewer.next_type(), -1);  // the agent only closes
    ASSERT_TRUE(wait_until([this] { return session_over.load(); }));
    EXPECT_FALSE(agent.viewer_connected);
    EXPECT_EQ(agent.viewer_name.get(), L"");
}

} // namespace
