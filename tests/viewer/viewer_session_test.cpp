// The viewer in-process under Wine: decode_frame on the agent's own JPEG
// tiles, a whole session against a scripted agent driven with real window
// messages, and every failure message from a real cause.
#include <gtest/gtest.h>
#include <objidl.h>
#include <gdiplus.h>
#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/frame_payload.h"
#include "capture/screen_capture.h"
#include "net/message_io.h"
#include "net/relay_client.h"
#include "tests/capture/test_picture.h"
#include "tests/win/test_support.h"
#include "ui/saved_list.h"
#include "viewer/viewer.h"

namespace {

constexpr DWORD WAIT_MS = 20000;

// A picture of one colour, as 32-bit blue-green-red-ignored pixels.
std::vector<std::uint8_t> solid(int width, int height, std::uint8_t r, std::uint8_t g,
                                std::uint8_t b)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
    }
    return pixels;
}

struct Tile {
    int x, y, w, h;
    std::vector<std::uint8_t> jpeg;
};

Tile jpeg_tile(int x, int y, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Tile tile{x, y, w, h, {}};
    const auto pixels = solid(w, h, r, g, b);
    EXPECT_TRUE(encode_jpeg_region(pixels.data(), w * 4, 0, 0, w, h, tile.jpeg));
    return tile;
}

// A MSG_FRAME payload; `count` may announce more tiles than are given.
std::vector<std::uint8_t> frame_payload(int width, int height, const std::vector<Tile>& tiles,
                                        int count = -1)
{
    std::vector<std::uint8_t> out;
    append_le16(out, width);
    append_le16(out, height);
    append_le16(out, count < 0 ? tiles.size() : count);
    for (const Tile& t : tiles) {
        append_le16(out, t.x);
        append_le16(out, t.y);
        append_le16(out, t.w);
        append_le16(out, t.h);
        append_le32(out, t.jpeg.size());
        out.insert(out.end(), t.jpeg.begin(), t.jpeg.end());
    }
    return out;
}

// The canvas pixel at (x, y) as 0xRRGGBB, or -1 without a canvas there.
long canvas_pixel(int x, int y)
{
    const ViewerSession& v = viewer.session;
    if (!v.canvas_bits || x >= v.canvas_width || y >= v.canvas_height)
        return -1;
    const auto* p = static_cast<const std::uint8_t*>(v.canvas_bits) +
                    (std::size_t(y) * v.canvas_width + x) * 4;
    return (long(p[2]) << 16) | (p[1] << 8) | p[0];
}

bool close_to(long rgb, long expected)
{
    if (rgb < 0)
        return false;
    for (int shift = 0; shift <= 16; shift += 8)
        if (std::abs(int((rgb >> shift) & 0xFF) - int((expected >> shift) & 0xFF)) > 10)
            return false;
    return true;
}

// A scripted agent: TLS with a test certificate, then per `mode`.
struct FakeAgent {
    enum class Mode { serve, close_after_auth, other_type_first };

    explicit FakeAgent(Mode mode, const std::wstring& cert = L"server") : mode(mode)
    {
        const std::string dir = utf8(test_bin_dir()) + "test-certs\\";
        const std::string name = utf8(cert);
        ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(ctx, (dir + name + ".crt").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(ctx, (dir + name + ".key").c_str(), SSL_FILETYPE_PEM);
        listener = listen_loopback(port);
        thread = std::thread([this] { run(); });
    }
    ~FakeAgent()
    {
        stop = true;
        closesocket(listener);
        if (thread.joinable())
            thread.join();
        SSL_CTX_free(ctx);
    }

    std::vector<std::pair<int, std::vector<std::uint8_t>>> received()
    {
        std::lock_guard<std::mutex> guard(lock);
        return messages;
    }
    // Waits for a message of `type` after the first `from` messages; its index or -1.
    int wait_for(int type, std::size_t from = 0)
    {
        for (DWORD waited = 0; waited < WAIT_MS; waited += 20) {
            const auto all = received();
            for (std::size_t i = from; i < all.size(); ++i)
                if (all[i].first == type)
                    return int(i);
            Sleep(20);
        }
        return -1;
    }

    void run()
    {
        SOCKET s = accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return;
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, int(s));
        if (SSL_accept(ssl) > 0)
            converse(ssl, s);
        SSL_free(ssl);
        closesocket(s);
        peer_gone = true;
    }

    void converse(SSL* ssl, SOCKET s)
    {
        Message auth;
        if (!read_msg(ssl, auth))
            return;
        password.assign(reinterpret_cast<char*>(auth.payload), auth.size);
        free_message(auth);
        if (mode == Mode::close_after_auth)
            return;
        if (mode == Mode::other_type_first) {
            send_msg(ssl, MSG_PONG, nullptr, 0);
            send_msg(ssl, MSG_AUTH_OK, nullptr, 0);
            Sleep(2000);
            return;
        }
        send_msg(ssl, MSG_AUTH_OK, nullptr, 0);
        const std::uint8_t info[2] = {3, 0xFF};
        send_msg(ssl, MSG_MONITOR_INFO, info, 2);
        send_msg(ssl, MSG_FRAME, first_frame.data(), first_frame.size());
        // Empty frames keep the viewer's passes going, as a real agent's do.
        const std::vector<std::uint8_t> empty = frame_payload(256, 128, {}, 0);
        while (!stop && !hang_up) {
            if (!send_msg(ssl, MSG_FRAME, empty.data(), empty.size()))
                return;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait{0, 30000};
            while (SSL_pending(ssl) > 0 || select(0, &readable, nullptr, nullptr, &wait) > 0) {
                Message m;
                if (!read_msg(ssl, m))
                    return;
                if (m.type == MSG_PING)
                    send_msg(ssl, MSG_PONG, nullptr, 0);
                std::lock_guard<std::mutex> guard(lock);
                messages.push_back({m.type, std::vector<std::uint8_t>(m.payload, m.payload + m.size)});
                free_message(m);
                FD_ZERO(&readable);
                FD_SET(s, &readable);
                wait = {0, 0};
            }
        }
    }

    Mode mode;
    SSL_CTX* ctx = nullptr;
    SOCKET listener = INVALID_SOCKET;
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> hang_up{false};
    std::atomic<bool> peer_gone{false};
    std::string password;
    std::vector<std::uint8_t> first_frame;
    std::mutex lock;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> messages;
};

// Answers one relay request line with `answer`, then closes.
struct FakeRelay {
    explicit FakeRelay(std::string answer) : answer(std::move(answer))
    {
        listener = listen_loopback(port);
        thread = std::thread([this] {
            SOCKET s = accept(listener, nullptr, nullptr);
            std::string line;
            read_relay_line(s, 100, line);
            request = line;
            send(s, this->answer.data(), int(this->answer.size()), 0);
            closesocket(s);
        });
    }
    ~FakeRelay()
    {
        closesocket(listener);
        thread.join();
    }
    std::string answer, request;
    SOCKET listener = INVALID_SOCKET;
    std::uint16_t port = 0;
    std::thread thread;
};

// Counts the viewer window's paints, put in front of its window procedure.
std::atomic<int> paints{0};
WNDPROC viewer_proc = nullptr;
LRESULT CALLBACK counting_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_PAINT)
        ++paints;
    return CallWindowProcW(viewer_proc, window, message, wparam, lparam);
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms = WAIT_MS)
{
    for (DWORD waited = 0; waited < timeout_ms; waited += 20) {
        if (condition())
            return true;
        Sleep(20);
    }
    return condition();
}

ServerEntry direct_entry(std::uint16_t port, const char* password = "pw")
{
    ServerEntry entry;
    entry.host = L"127.0.0.1";
    entry.port = port;
    entry.password = password;
    return entry;
}

// Answers a box with OK and waits until it is gone: without a window manager
// Wine takes a while to destroy a window, and a later search must not find
// the old box still on screen.
void close_box(HWND box)
{
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wait_until([box] { return !IsWindow(box); }));
}

// Launches a viewer that must fail with a box: returns the box text; the box
// is closed and the session must be over with no window made.
std::string failure_text(const ServerEntry& entry)
{
    launch_viewer(entry);
    HWND box = wait_for_dialog(GetCurrentProcessId(), WAIT_MS);
    std::string text = box ? dialog_text(box) : "<no box>";
    EXPECT_EQ(FindWindowW(L"OrvaneViewer", nullptr), nullptr) << text;
    if (box)
        close_box(box);
    EXPECT_TRUE(wait_until([] { return !viewer.open; })) << text;
    return text;
}

struct Viewer : ::testing::Test {
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr);
    }
    static ULONG_PTR gdiplus_token;
};
ULONG_PTR Viewer::gdiplus_token = 0;

} // namespace

TEST_F(Viewer, DecodeFramePaintsTilesOntoTheCanvas)
{
    ViewerSession& v = viewer.session;
    InitializeCriticalSection(&v.canvas_lock);
    const Tile red = jpeg_tile(0, 0, 128, 128, 220, 20, 20);
    const Tile green = jpeg_tile(128, 0, 128, 128, 20, 200, 20);

    decode_frame(frame_payload(256, 128, {}, 0).data(), 6);  // count 0: nothing at all
    EXPECT_EQ(v.canvas, nullptr);

    // Three tiles announced, the second runs past the payload: only the first is painted.
    std::vector<std::uint8_t> cut = frame_payload(256, 128, {red, green}, 3);
    cut.resize(cut.size() - 10);
    decode_frame(cut.data(), cut.size());
    EXPECT_TRUE(close_to(canvas_pixel(10, 10), 0xDC1414)) << std::hex << canvas_pixel(10, 10);
    EXPECT_EQ(canvas_pixel(200, 10), 0);

    // Same size: the untouched part stays.
    auto same = frame_payload(256, 128, {green});
    decode_frame(same.data(), same.size());
    EXPECT_TRUE(close_to(canvas_pixel(10, 10), 0xDC1414));
    EXPECT_TRUE(close_to(canvas_pixel(200, 10), 0x14C814));

    // Another size: a new black canvas first. A 128-wide tile at 192 is clipped to 64.
    const Tile clipped = jpeg_tile(192, 0, 128, 128, 20, 20, 220);
    Tile broken{0, 0, 128, 128, {0xFF, 0xD8, 0x00, 0x01, 0x02}};  // not a JPEG: left out
    auto resized = frame_payload(256, 100, {broken, clipped});
    decode_frame(resized.data(), resized.size());
    EXPECT_EQ(v.canvas_width, 256);
    EXPECT_EQ(v.canvas_height, 100);
    EXPECT_EQ(canvas_pixel(10, 10), 0);
    EXPECT_TRUE(close_to(canvas_pixel(255, 99), 0x1414DC)) << std::hex << canvas_pixel(255, 99);

    DeleteObject(v.canvas);
    v.canvas = nullptr;
    v.canvas_bits = nullptr;
    DeleteCriticalSection(&v.canvas_lock);
}

TEST_F(Viewer, DecodeFrameShowsWhatTheAgentEncoded)
{
    ViewerSession& v = viewer.session;
    InitializeCriticalSection(&v.canvas_lock);
    const int width = 1920, height = 1080;
    std::vector<std::uint8_t> picture = test_picture(width, height);
    const FramePicture frame{picture.data(), width, height, width * 4};
    FrameHistory history;
    std::vector<std::uint8_t> payload;

    // A complete frame, then one that changes a few tiles in the middle.
    ASSERT_EQ(encode_frame_payload(history, frame, encode_jpeg_region, payload), 9);
    decode_frame(payload.data(), payload.size());
    ASSERT_EQ(v.canvas_width, width);
    ASSERT_EQ(v.canvas_height, height);
    Difference d = compare(static_cast<const std::uint8_t*>(v.canvas_bits), width * 4,
                           picture.data(), width * 4, width, height);
    EXPECT_LT(d.mean, 4.0);
    EXPECT_LT(d.far_share, 0.001);

    for (int y = 500; y < 700; ++y)
        for (int x = 700; x < 1000; ++x) {
            std::uint8_t* p = &picture[(std::size_t(y) * width + x) * 4];
            p[0] = 220, p[1] = std::uint8_t(y - 500), p[2] = 30;
        }
    ASSERT_EQ(encode_frame_payload(history, frame, encode_jpeg_region, payload), 3);
    decode_frame(payload.data(), payload.size());
    d = compare(static_cast<const std::uint8_t*>(v.canvas_bits), width * 4, picture.data(),
                width * 4, width, height);
    EXPECT_LT(d.mean, 4.0);
    EXPECT_LT(d.far_share, 0.001);

    DeleteObject(v.canvas);
    v.canvas = nullptr;
    v.canvas_bits = nullptr;
    DeleteCriticalSection(&v.canvas_lock);
}

TEST_F(Viewer, SessionShowsThePictureAndSendsWhatTheWindowAsksFor)
{
    FakeAgent agent(FakeAgent::Mode::serve);
    agent.first_frame = frame_payload(256, 128, {jpeg_tile(0, 0, 128, 128, 220, 20, 20)});
    // Input left over from an earlier session must not reach this agent.
    MouseEvent stale{};
    write_mouse_payload(stale.bytes, MOUSE_LEFT_DOWN, 1, 1, 0);
    viewer.session.mouse_queue.push_back(stale);

    launch_viewer(direct_entry(agent.port, "Sekr3t"));
    ASSERT_TRUE(wait_until([] { return viewer.session.viewer_window != nullptr; }));
    HWND window = viewer.session.viewer_window;
    EXPECT_NE(agent.wait_for(MSG_PING), -1);  // the first pass pings at once
    EXPECT_EQ(agent.password, "Sekr3t");
    ASSERT_TRUE(wait_until([] { return viewer.session.canvas_width == 256; }));
    // Only the first frame has a tile: a rate at all needs the empty ones counted.
    EXPECT_TRUE(wait_until([] { return viewer.session.fps_x10 > 0; }));
    wchar_t title[256] = {};
    ASSERT_TRUE(wait_until([&] {
        GetWindowTextW(window, title, 256);
        return std::wstring(title).find(L"все мониторы") != std::wstring::npos;
    })) << utf8(title);
    ASSERT_TRUE(wait_until([] { return viewer.session.image_rect.right > 0; }));
    const ImageRect image = viewer.session.image_rect;
    // Only empty frames follow: the overlay is still redrawn as pings come back.
    viewer_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(counting_proc)));
    EXPECT_TRUE(wait_until([] { return paints >= 2; })) << paints;
    EXPECT_GE(viewer.session.latency_ms, 0);
    const LPARAM middle = MAKELPARAM((image.left + image.right) / 2, (image.top + image.bottom) / 2);

    // View-only: the click goes nowhere; F3 and F4 work all the same.
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(window, WM_KEYDOWN, VK_F3, 0);
    const int cad = agent.wait_for(MSG_CTRL_ALT_DEL);
    ASSERT_NE(cad, -1);
    PostMessageW(window, WM_KEYDOWN, VK_F4, 0);
    const int select = agent.wait_for(MSG_SELECT_MONITOR, cad);
    ASSERT_NE(select, -1);
    EXPECT_EQ(agent.received()[select].second, std::vector<std::uint8_t>{0});

    // F2: control. A click in the middle of the picture, a key.
    PostMessageW(window, WM_KEYDOWN, VK_F2, 0);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(window, WM_KEYDOWN, 'A', 0x001E0001);
    PostMessageW(window, WM_KEYUP, VK_RIGHT, 0xC1000001);  // extended
    const int click = agent.wait_for(MSG_MOUSE);
    ASSERT_NE(click, -1);
    const auto mouse = agent.received()[click].second;
    ASSERT_EQ(mouse.size(), MOUSE_PAYLOAD_SIZE);
    EXPECT_EQ(mouse[0], MOUSE_LEFT_DOWN);  // not the stale event of before
    EXPECT_NEAR(mouse[1] | (mouse[2] << 8), 32767, 200);
    EXPECT_NEAR(mouse[3] | (mouse[4] << 8), 32767, 400);
    const int key = agent.wait_for(MSG_KEY);
    ASSERT_NE(key, -1);
    EXPECT_EQ(agent.received()[key].second, (std::vector<std::uint8_t>{0x41, 0, 1, 0}));
    const int arrow = agent.wait_for(MSG_KEY, key + 1);
    ASSERT_NE(arrow, -1);
    EXPECT_EQ(agent.received()[arrow].second, (std::vector<std::uint8_t>{VK_RIGHT, 0, 0, 1}));
    GetWindowTextW(window, title, 256);
    EXPECT_NE(std::wstring(title).find(L"УПРАВЛЕНИЕ"), std::wstring::npos) << utf8(title);

    // Closing the window ends the session quietly.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wait_until([] { return !viewer.open; }));
    EXPECT_TRUE(wait_until([&] { return agent.peer_gone.load(); }));
    EXPECT_EQ(wait_for_dialog(GetCurrentProcessId(), 500), nullptr);
}

TEST_F(Viewer, LostConnectionIsToldThenTheWindowCloses)
{
    FakeAgent agent(FakeAgent::Mode::serve);
    agent.first_frame = frame_payload(256, 128, {jpeg_tile(0, 0, 128, 128, 20, 20, 220)});
    launch_viewer(direct_entry(agent.port));
    ASSERT_TRUE(wait_until([] { return viewer.session.canvas_width == 256; }));
    agent.hang_up = true;
    HWND box = wait_for_dialog(GetCurrentProcessId(), WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dialog_text(box).find("Соединение с удалённым компьютером потеряно"),
              std::string::npos);
    EXPECT_TRUE(viewer.open);  // the window waits for the notice
    close_box(box);
    EXPECT_TRUE(wait_until([] { return !viewer.open; }));
    EXPECT_EQ(FindWindowW(L"OrvaneViewer", nullptr), nullptr);
}

TEST_F(Viewer, EveryFailureHasItsMessage)
{
    {
        FakeAgent agent(FakeAgent::Mode::serve, L"other");
        EXPECT_NE(failure_text(direct_entry(agent.port))
                      .find("TLS не удался (сертификат не тот или сервер не TLS)."),
                  std::string::npos);
    }
    for (FakeAgent::Mode mode : {FakeAgent::Mode::close_after_auth,
                                 FakeAgent::Mode::other_type_first}) {
        FakeAgent agent(mode);
        EXPECT_NE(failure_text(direct_entry(agent.port))
                      .find("Неверный пароль — сервер отклонил подключение."),
                  std::string::npos);
    }
    ServerEntry by_name = direct_entry(55500);
    by_name.host = L"localhost";  // names are never resolved
    EXPECT_NE(failure_text(by_name).find("Не удалось подключиться к серверу."), std::string::npos);
    EXPECT_NE(failure_text(direct_entry(closed_loopback_port())).find("Не удалось подключиться к серверу."),
              std::string::npos);

    // The relay closes right after its answer: one it accepts takes the
    // viewer on to the TLS handshake, which then fails.
    const char* refused = "Не удалось подключиться через релей (агент не на связи?).";
    const char* accepted = "TLS не удался (сертификат не тот или сервер не TLS).";
    const std::pair<const char*, const char*> answers[] = {
        {"ok\n", refused}, {"OK \n", refused}, {"\n", refused}, {"", refused},
        {"OK\n", accepted}, {"OK\r\n", accepted}};
    for (const auto& [answer, expected] : answers) {
        FakeRelay relay(answer);
        ServerEntry entry;
        entry.relay_host = L"127.0.0.1";
        entry.relay_port = relay.port;
        entry.relay_id = L"123456789";
        entry.host = L"127.0.0.1";  // a relay host wins over a direct address
        entry.password = "pw";
        const std::string text = failure_text(entry);
        EXPECT_NE(text.find(expected), std::string::npos) << answer << ": " << text;
        EXPECT_EQ(relay.request, "OVRELAY1 C 123456789");
    }

    const std::wstring crt = test_bin_dir() + L"server.crt";
    const std::wstring aside = crt + L".aside";
    ASSERT_TRUE(MoveFileW(crt.c_str(), aside.c_str()));
    const std::string text = failure_text(direct_entry(1));
    MoveFileW(aside.c_str(), crt.c_str());
    EXPECT_NE(text.find("Нет файла server.crt рядом с приложением."), std::string::npos) << text;
}

TEST_F(Viewer, OnlyOneViewerAtATimeAndNoPromptWithAStoredPassword)
{
    FakeAgent agent(FakeAgent::Mode::serve);
    agent.first_frame = frame_payload(256, 128, {jpeg_tile(0, 0, 128, 128, 20, 20, 220)});
    launch_viewer(direct_entry(agent.port));
    ASSERT_TRUE(wait_until([] { return viewer.session.viewer_window != nullptr; }));
    // The refusal is a modal box on the caller's thread.
    std::thread second([&] { launch_viewer(direct_entry(agent.port)); });
    HWND box = wait_for_dialog(GetCurrentProcessId(), WAIT_MS);
    std::string text = box ? dialog_text(box) : "<no box>";
    if (box)
        close_box(box);
    second.join();
    EXPECT_NE(text.find("Просмотр уже открыт. Закройте текущее окно."), std::string::npos) << text;
    PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wait_until([] { return !viewer.open; }));
}

namespace {

// The main window's stand-in: a second launch arrives while the first one's
// password prompt runs its loop on this thread.
constexpr UINT LAUNCH_AGAIN = WM_APP + 7;
ServerEntry second_entry;
LRESULT CALLBACK launcher_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == LAUNCH_AGAIN) {
        launch_viewer(second_entry);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND other_prompt(HWND not_this)
{
    HWND found = nullptr;
    wait_until([&] {
        for (HWND w = FindWindowW(L"OVPwDlg", nullptr); w;
             w = FindWindowExW(nullptr, w, L"OVPwDlg", nullptr))
            if (w != not_this && IsWindowVisible(w))
                found = w;
        return found != nullptr;
    });
    return found;
}

void answer_prompt(HWND prompt, const wchar_t* password)
{
    SendMessageW(GetDlgItem(prompt, 104), WM_SETTEXT, 0, LPARAM(password));
    PostMessageW(GetDlgItem(prompt, IDOK), BM_CLICK, 0, 0);
}

} // namespace

TEST_F(Viewer, LaunchDuringAPasswordPromptStartsNoSecondSession)
{
    FakeAgent agent(FakeAgent::Mode::serve);
    agent.first_frame = frame_payload(256, 128, {jpeg_tile(0, 0, 128, 128, 20, 20, 220)});
    WNDCLASSW cls{};
    cls.lpfnWndProc = launcher_proc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"OrvaneTestLauncher";
    RegisterClassW(&cls);
    HWND launcher = CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    cls.hInstance, nullptr);
    ASSERT_NE(launcher, nullptr);
    second_entry = direct_entry(agent.port, "");
    second_entry.name = L"Second";

    std::string box_text = "<no box>";
    HWND first_window = nullptr;
    std::thread driver([&] {
        HWND first = other_prompt(nullptr);
        ASSERT_NE(first, nullptr);
        PostMessageW(launcher, LAUNCH_AGAIN, 0, 0);
        HWND second = other_prompt(first);
        ASSERT_NE(second, nullptr);
        answer_prompt(second, L"second-pw");
        ASSERT_TRUE(wait_until([] { return viewer.session.viewer_window != nullptr; }));
        first_window = viewer.session.viewer_window;
        answer_prompt(first, L"first-pw");
        if (HWND box = wait_for_dialog(GetCurrentProcessId(), WAIT_MS)) {
            box_text = dialog_text(box);
            close_box(box);
        }
    });
    ServerEntry first_entry = direct_entry(agent.port, "");
    first_entry.name = L"First";
    launch_viewer(first_entry);
    driver.join();

    EXPECT_NE(box_text.find("Просмотр уже открыт. Закройте текущее окно."), std::string::npos)
        << box_text;
    EXPECT_EQ(agent.password, "second-pw");
    EXPECT_EQ(viewer.session.viewer_window, first_window) << "the session that started goes on";
    EXPECT_TRUE(viewer.open);
    PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(wait_until([] { return !viewer.open; }));
    DestroyWindow(launcher);
}
