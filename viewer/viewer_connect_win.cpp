// The viewer's connecting thread: reach the agent, TLS, password, then the
// window and its message loop, then the tear-down.
#include <ws2tcpip.h>

#include <memory>

#include "app/win_handles.h"
#include "app/win_thread.h"
#include "app/win_util.h"
#include "net/message_io.h"
#include "net/relay_client.h"
#include "net/tls.h"
#include "ui/message_box.h"
#include "viewer/viewer.h"

ViewerState viewer;

namespace {

constexpr std::size_t RELAY_ANSWER_MAX = 63;
const wchar_t VIEWER_CLASS[] = L"OrvaneViewer";

void warn(const wchar_t* text)
{
    show_message_box(nullptr, text, MB_ICONWARNING);
}

void reset_session()
{
    ViewerSession& v = viewer.session;
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

UniqueSocket connect_through_relay(const ViewerParams& params)
{
    UniqueSocket s =
        relay_connect(params.relay_host, params.relay_port, "OVRELAY1 C " + params.relay_id + "\n");
    if (!s)
        return s;
    std::string answer;
    if (!read_relay_line(s.get(), RELAY_ANSWER_MAX, answer) || answer != "OK")
        return UniqueSocket();
    return s;
}

UniqueSocket connect_direct(const ViewerParams& params)
{
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s)
        return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(params.port);
    if (inet_pton(AF_INET, params.host.c_str(), &address.sin_addr) != 1 ||
        connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return UniqueSocket();
    return s;
}

UniqueSocket reach_agent(const ViewerParams& params)
{
    if (!params.relay_host.empty()) {
        UniqueSocket s = connect_through_relay(params);
        if (!s)
            warn(L"Не удалось подключиться через релей (агент не на связи?).");
        return s;
    }
    UniqueSocket s = connect_direct(params);
    if (!s)
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
    if (!window) {
        report_win32_failure("CreateWindowExW (OrvaneViewer)");
        return nullptr;
    }
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

// The picture's bitmap goes with the session.
void free_canvas(ViewerSession& v)
{
    EnterCriticalSection(&v.canvas_lock);
    if (v.canvas)
        DeleteObject(v.canvas);
    v.canvas = nullptr;
    v.canvas_bits = nullptr;
    LeaveCriticalSection(&v.canvas_lock);
}

// The live part: window, network thread, loop, then everything freed in order.
// False when the window or its network thread could not be started.
bool run_live_session(TlsConnection& connection)
{
    ViewerSession& v = viewer.session;
    InitializeCriticalSection(&v.canvas_lock);
    InitializeCriticalSection(&v.mouse_lock);
    InitializeCriticalSection(&v.key_lock);
    const UniqueHandle input_ready(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    v.input_ready = input_ready.get();
    v.viewer_window = input_ready ? create_viewer_window() : nullptr;
    UniqueHandle network;
    if (v.viewer_window) {
        network = start_thread(network_thread, std::make_unique<SSL*>(connection.ssl.get()));
        if (network)
            run_message_loop();
        else
            DestroyWindow(v.viewer_window);
    }
    v.running = false;
    wake_network_thread();  // it may be waiting for input or the agent
    shutdown(connection.socket.get(), SD_BOTH);
    connection.socket.reset();  // fails the network thread's blocking read
    if (network)
        WaitForSingleObject(network.get(), INFINITE);
    free_canvas(v);
    v.viewer_window = nullptr;
    DeleteCriticalSection(&v.canvas_lock);
    DeleteCriticalSection(&v.mouse_lock);
    DeleteCriticalSection(&v.key_lock);
    v.input_ready = nullptr;  // closed as input_ready goes
    return bool(network);
}

void run_viewer(const ViewerParams& params)
{
    reset_session();
    init_tls_library();
    const SslCtxPtr ctx = open_viewer_tls_context();  // its own box on every failure
    if (!ctx)
        return;
    UniqueSocket s = reach_agent(params);
    if (!s)
        return;
    SslPtr ssl = viewer_tls_handshake(s.get(), ctx.get());  // sets TCP_NODELAY
    if (!ssl)
        return;
    TlsConnection connection(std::move(s), std::move(ssl));
    if (!authenticate(connection.ssl.get(), params.password)) {
        warn(L"Неверный пароль — сервер отклонил подключение.");
        return;
    }
    // Told after the connection has closed, so the agent sees the viewer go
    // while the box waits for the user.
    if (!run_live_session(connection))
        warn(L"Не удалось открыть окно просмотра.");
}

} // namespace

SslCtxPtr open_viewer_tls_context()
{
    ClientTlsFailure failure = ClientTlsFailure::none;
    SslCtxPtr ctx = create_client_tls_context(failure);
    if (failure == ClientTlsFailure::certificate_missing)
        warn(L"Нет файла server.crt рядом с приложением.");
    else if (failure == ClientTlsFailure::certificate_unreadable)
        warn(L"Не удалось прочитать сертификат из файла server.crt рядом с приложением.");
    else if (failure == ClientTlsFailure::refused)
        warn(L"Не удалось подготовить защищённое подключение.");
    return ctx;
}

SslPtr viewer_tls_handshake(SOCKET s, SSL_CTX* ctx)
{
    SslPtr ssl = connect_tls(s, ctx);
    if (!ssl)
        warn(L"TLS не удался (сертификат не тот или сервер не TLS).");
    return ssl;
}

DWORD WINAPI viewer_thread(void* raw_params)
{
    run_viewer(*std::unique_ptr<ViewerParams>(static_cast<ViewerParams*>(raw_params)));
    viewer.session.running = false;
    viewer.open = false;  // last: a new session may start from here on
    return 0;
}
