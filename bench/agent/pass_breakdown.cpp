// Where a streaming pass spends its time: the agent's real session, run
// in-process on a worker thread as on the accept thread, with a stage sink
// that times each piece of every pass. The viewer is a loopback TLS reader
// that authenticates, counts frames and hangs up after PASSES of them.
//   pass_breakdown [PASSES]     (test-certs/ beside it)
// The session logs its usual lines first; the figures follow them.
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/agent_state.h"
#include "app/win_util.h"
#include "capture/pass_probe.h"
#include "host/session.h"
#include "net/message_io.h"

namespace {

constexpr const char* PASSWORD = "bench";
constexpr std::array<const char*, std::size_t(PassStage::count)> STAGE_NAMES = {
    "clipboard", "desktop", "grab", "announce", "diff", "JPEG", "send", "pace", "pump"};

std::array<double, std::size_t(PassStage::count)> stage_ms{};
LARGE_INTEGER last_mark{};
LARGE_INTEGER frequency{};
int passes_begun = 0;

void on_stage(PassStage finished)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Time before the session's first pump belongs to no pass.
    if (last_mark.QuadPart != 0)
        stage_ms[std::size_t(finished)] +=
            double(now.QuadPart - last_mark.QuadPart) * 1000.0 / double(frequency.QuadPart);
    last_mark = now;
    if (finished == PassStage::clipboard)  // the first stage of every pass
        ++passes_begun;
}

SSL_CTX* server_context()
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    const std::string certs = exe_directory() + "test-certs\\server";
    if (SSL_CTX_use_certificate_file(ctx, (certs + ".crt").c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, (certs + ".key").c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

SOCKET listen_loopback(sockaddr_in& addr)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener, 1);
    int size = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
    return listener;
}

struct ViewerTally {
    int frames = 0;
    double payload_bytes = 0;
};

// Authenticates, then reads until `passes` frames have arrived and hangs up.
ViewerTally view(const sockaddr_in& addr, int passes)
{
    ViewerTally tally;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = nullptr;
    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, int(s));
        if (SSL_connect(ssl) > 0 && send_msg(ssl, MSG_AUTH, PASSWORD, std::strlen(PASSWORD))) {
            Message m;
            while (tally.frames < passes && read_msg(ssl, m)) {
                if (m.type == MSG_FRAME) {
                    ++tally.frames;
                    tally.payload_bytes += m.size;
                }
                free_message(m);
            }
        }
    }
    if (ssl)
        SSL_free(ssl);
    SSL_CTX_free(ctx);
    closesocket(s);
    return tally;
}

void print_breakdown(const ViewerTally& tally)
{
    const int passes = passes_begun > 0 ? passes_begun : 1;
    double total = 0;
    for (double ms : stage_ms)
        total += ms;
    std::printf("%d passes of the real loop, %.2f ms a pass (%.1f passes/s), payload %.0f bytes "
                "a frame\n",
                passes, total / passes, 1000.0 * passes / total,
                tally.frames ? tally.payload_bytes / tally.frames : 0.0);
    const double work = total - stage_ms[std::size_t(PassStage::pace)];
    std::printf("%-10s %9s %9s %9s\n", "stage", "ms/pass", "of pass", "of work");
    for (std::size_t i = 0; i < stage_ms.size(); ++i) {
        const bool is_pace = i == std::size_t(PassStage::pace);
        std::printf("%-10s %9.2f %8.0f%% ", STAGE_NAMES[i], stage_ms[i] / passes,
                    100 * stage_ms[i] / total);
        if (is_pace)
            std::printf("%9s\n", "-");
        else
            std::printf("%8.0f%%\n", work > 0 ? 100 * stage_ms[i] / work : 0.0);
    }
}

int run(int argc, char** argv)
{
    const int passes = argc > 1 ? std::atoi(argv[1]) : 100;
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &gdiplus_input, nullptr);
    SSL_CTX* ctx = server_context();
    if (!ctx) {
        std::fprintf(stderr, "no test-certs\\server.crt and server.key beside the program\n");
        return 1;
    }
    agent.config.current_password.set(PASSWORD);
    QueryPerformanceFrequency(&frequency);
    pass_stage_sink = on_stage;

    sockaddr_in addr;
    SOCKET listener = listen_loopback(addr);
    std::thread session([&] {
        SOCKET s = accept(listener, nullptr, nullptr);
        if (s != INVALID_SOCKET)
            run_viewer_session(UniqueSocket(s), ctx, "bench", nullptr);
    });
    const ViewerTally tally = view(addr, passes);
    session.join();
    closesocket(listener);
    SSL_CTX_free(ctx);
    print_breakdown(tally);
    Gdiplus::GdiplusShutdown(token);
    return tally.frames == passes ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    int result = 1;
    std::thread([&] { result = run(argc, argv); }).join();
    return result;
}
