// The viewer's connecting thread: reach the agent, TLS, password, then the
// window and its message loop, then the tear-down.
#include <ws2tcpip.h>

#include "net/message_io.h"
#include "net/relay_client.h"
#include "net/tls.h"
#include "ui/message_box.h"
#include "viewer/viewer.h"

ViewerSession viewer_session;
std::atomic<bool> viewer_open{false};

namespace {

constexpr std::size_t RELAY_ANSWER_MAX = 63;
const wchar_t VIEWER_CLASS[] = L"OrvaneViewer";

void warn(const wchar_t* text)
{
    show_message_box(nullptr, text, MB_ICONWARNING);
}

void reset_session()
{
    ViewerSession& v = viewer_session;
    v.running = true;
    v.control_enabled = false;
    v.cad_requested = false;
    v.canvas = nullptr;
    v.canvas_bits = nullptr;
    v.canvas_width = 0;
    v.canvas_height = 0;
    v.viewer_window = nullptr;
    v.image_rect = {};
    v.monitor_count = 0;
    v.monitor_index = 0;
    v.pending_monitor = NO_PENDING_MONITOR;
    v.latency_ms = -1;
    v.fps_x10 = 0;
    // Input queued after the last session's final pass must never reach a
    // new agent. No other thread of a session is running here.
    v.mouse_queue.clear();
    v.key_queue.clear();
}

SOCKET connect_through_relay(const ViewerParams& params)
{
    SOCKET s = relay_connect(params.relay_host, params.relay_port,
                             "OVRELAY1 C " + params.relay_id + "\n");
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    std::string answer;
    if (!read_relay_line(s, RELAY_ANSWER_MAX, answer) || answer != "OK") {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKET connect_direct(const ViewerParams& params)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(params.port);
    if (inet_pton(AF_INET, params.host.c_str(), &address.sin_addr) != 1 ||
        connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKET reach_agent(const ViewerParams& params)
{
    if (!params.relay_host.empty()) {
        SOCKET s = connect_through_relay(params);
        if (s == INVALID_SOCKET)
            warn(L"Не удалось подключиться через релей (агент не на связи?).");
        return s;
    }
    SOCKET s = connect_direct(params);
    if (s == INVALID_SOCKET)
        warn(L"Не удалось подключиться к серверу.");
    return s;
}

bool authenticate(SSL* ssl, const std::string& password)
{
    if (!send_msg(ssl, MSG_AUTH, password.data(), password.size()))
        return false;
    Message reply;
    if (!read_msg(ssl, reply))
        return false;
    const bool ok = reply.type == MSG_AUTH_OK;
    free_message(reply);
    return ok;
}

HWND create_viewer_window()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = viewer_wndproc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = VIEWER_CLASS;
    RegisterClassW(&window_class);  // a later session finds it registered
    HWND window = CreateWindowExW(0, VIEWER_CLASS, viewer_title(false, 0, 0).c_str(),
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                  1000, 650, nullptr, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(101), IMAGE_ICON, 0, 0,
                             LR_SHARED | LR_DEFAULTSIZE);
    if (icon) {
        SendMessageW(window, WM_SETICON, ICON_BIG, LPARAM(icon));
        SendMessageW(window, WM_SETICON, ICON_SMALL, LPARAM(icon));
    }
    return window;
}

void run_message_loop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The live part: window, network thread, loop, then everything freed in order.
void run_live_session(SSL* ssl, SOCKET s)
{
    ViewerSession& v = viewer_session;
    InitializeCriticalSection(&v.canvas_lock);
    InitializeCriticalSection(&v.mouse_lock);
    InitializeCriticalSection(&v.key_lock);
    v.viewer_window = create_viewer_window();
    HANDLE network = nullptr;
    if (v.viewer_window) {
        network = CreateThread(nullptr, 0, network_thread, new SSL*(ssl), 0, nullptr);
        if (network)
            run_message_loop();
        else
            DestroyWindow(v.viewer_window);
    }
    v.running = false;
    shutdown(s, SD_BOTH);
    closesocket(s);  // fails the network thread's blocking read
    if (network) {
        WaitForSingleObject(network, INFINITE);
        CloseHandle(network);
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    EnterCriticalSection(&v.canvas_lock);
    if (v.canvas)
        DeleteObject(v.canvas);
    v.canvas = nullptr;
    v.canvas_bits = nullptr;
    LeaveCriticalSection(&v.canvas_lock);
    v.viewer_window = nullptr;
    DeleteCriticalSection(&v.canvas_lock);
    DeleteCriticalSection(&v.mouse_lock);
    DeleteCriticalSection(&v.key_lock);
}

void run_viewer(const ViewerParams& params)
{
    reset_session();
    init_tls_library();
    SSL_CTX* ctx = create_client_tls_context();  // its own box when server.crt is missing
    if (!ctx)
        return;
    SOCKET s = reach_agent(params);
    if (s == INVALID_SOCKET) {
        SSL_CTX_free(ctx);
        return;
    }
    SSL* ssl = connect_tls(s, ctx);  // sets TCP_NODELAY; its own box on failure
    if (!ssl) {
        closesocket(s);
        SSL_CTX_free(ctx);
        return;
    }
    if (!authenticate(ssl, params.password)) {
        warn(L"Неверный пароль — сервер отклонил подключение.");
        SSL_shutdown(ssl);
        SSL_free(ssl);
        closesocket(s);
        SSL_CTX_free(ctx);
        return;
    }
    run_live_session(ssl, s);
    SSL_CTX_free(ctx);
}

} // namespace

DWORD WINAPI viewer_thread(void* raw_params)
{
    ViewerParams* params = static_cast<ViewerParams*>(raw_params);
    run_viewer(*params);
    delete params;
    viewer_session.running = false;
    viewer_open = false;  // last: a new session may start from here on
    return 0;
}
