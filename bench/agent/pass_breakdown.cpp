// Where a streaming pass spends its time: the agent's own capture and
// encoding calls on the real screen, timed piece by piece, with the frame
// sent over a loopback TLS connection to a reader that discards it.
//   pass_breakdown [PASSES]     (server.crt and test-certs/ beside it)
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/win_util.h"
#include "capture/screen_capture.h"
#include "net/message_io.h"
#include "net/tls.h"

namespace {

using Clock = std::chrono::steady_clock;

double jpeg_ms = 0;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool timed_jpeg(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                std::vector<std::uint8_t>& out)
{
    const auto start = Clock::now();
    const bool ok = encode_jpeg_region(bits, stride, x, y, width, height, out);
    jpeg_ms += ms_since(start);
    return ok;
}

// Accepts one TLS connection and reads until it ends.
void drain(SOCKET listener)
{
    SOCKET s = accept(listener, nullptr, nullptr);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    const std::string certs = exe_directory() + "test-certs\\server";
    SSL_CTX_use_certificate_file(ctx, (certs + ".crt").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, (certs + ".key").c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, int(s));
    if (SSL_accept(ssl) > 0) {
        char buffer[65536];
        while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    closesocket(s);
}

SSL* connect_pair(SOCKET& client, SOCKET& listener, std::thread& reader)
{
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener, 1);
    int size = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
    reader = std::thread(drain, listener);
    client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    SSL_CTX* ctx = create_client_tls_context();
    return ctx ? connect_tls(client, ctx) : nullptr;
}

} // namespace

int run(int argc, char** argv);

// The passes run on a thread of their own, as on the agent's accept thread:
// under Wine a screen copy from a process's main thread costs about ten times
// as much (some 60 ms against 6 for 1920x1080).
int main(int argc, char** argv)
{
    int result = 1;
    std::thread([&] { result = run(argc, argv); }).join();
    return result;
}

int run(int argc, char** argv)
{
    const int passes = argc > 1 ? std::atoi(argv[1]) : 100;
    const int sleep_ms = argc > 2 ? std::atoi(argv[2]) : 1;
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &gdiplus_input, nullptr);
    SOCKET client, listener;
    std::thread reader;
    SSL* ssl = connect_pair(client, listener, reader);
    if (!ssl)
        return 1;

    CaptureState state;
    if (!refresh_capture_area(state, true))
        return 1;
    std::vector<std::uint8_t> payload;
    double setup = 0, grab = 0, encode = 0, send = 0, bytes = 0;
    int grabbed = 0;
    for (int i = 0; i < passes; ++i) {
        auto start = Clock::now();
        if (!follow_input_desktop(state) || !refresh_capture_area(state, false))
            continue;
        setup += ms_since(start);
        start = Clock::now();
        if (!grab_frame(state))
            continue;
        grab += ms_since(start);
        start = Clock::now();
        const FramePicture picture{state.bits, state.geometry.area.width,
                                   state.geometry.area.height, state.geometry.stride};
        encode_frame_payload(state.history, picture, timed_jpeg, payload);
        encode += ms_since(start);
        start = Clock::now();
        send_msg(ssl, MSG_FRAME, payload.data(), payload.size());
        send += ms_since(start);
        bytes += double(payload.size());
        ++grabbed;
        Sleep(sleep_ms);
    }
    const double n = grabbed ? grabbed : 1;
    const double diff = encode - jpeg_ms;
    const double total = grab + encode + send;
    std::printf("desktop and area checks %.2f ms a pass\n", setup / (grabbed ? grabbed : 1));
    std::printf("%d passes of %dx%d; per pass: grab %.2f ms, diff %.2f ms, JPEG %.2f ms, "
                "send %.2f ms, payload %.0f bytes\n",
                grabbed, state.geometry.area.width, state.geometry.area.height, grab / n,
                diff / n, jpeg_ms / n, send / n, bytes / n);
    std::printf("share of a pass: grab %.0f%%, diff %.0f%%, JPEG %.0f%%, send %.0f%%\n",
                100 * grab / total, 100 * diff / total, 100 * jpeg_ms / total, 100 * send / total);
    close_capture_desktop(state);
    SSL_shutdown(ssl);
    SSL_free(ssl);
    closesocket(client);
    reader.join();
    closesocket(listener);
    return 0;
}
