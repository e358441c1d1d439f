// The agent's start-up, message loop and shutdown.
#include "app/agent_main.h"

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>  // GDI+ needs it under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <cstdio>
#include <ctime>

#include "app/agent_config_win.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "credentials/protected_storage.h"
#include "host/accept.h"
#include "host/ban_list.h"
#include "net/reachability.h"
#include "net/tls.h"
#include "service/session_watch.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/tray.h"

namespace {

constexpr wchar_t ALREADY_RUNNING_TEXT[] =
    L"Orvane уже запущен на этом компьютере — повторный экземпляр не нужен (общий порт/ID на "
    L"релее, два агента будут мешать друг другу).";

// One agent per machine: a second one would fight the first for the port or
// the relay ID. False when another agent already runs.
bool claim_single_instance()
{
    SetLastError(0);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\OrvaneAgentRunning");
    if (!mutex) {
        SetLastError(0);
        mutex = CreateMutexW(nullptr, TRUE, L"OrvaneAgentRunning");
    }
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        if (!launched_by_service)
            show_message_box(nullptr, ALREADY_RUNNING_TEXT, MB_ICONINFORMATION);
        return false;
    }
    return true;  // the handle stays open for the life of the process
}

void open_agent_log()
{
    const std::string path = exe_directory() + "orvane_agent.log";
    std::freopen(path.c_str(), "w", stdout);
    std::freopen(path.c_str(), "a", stderr);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char when[64] = "?\n";
    __time64_t now = _time64(nullptr);
    _ctime64_s(when, sizeof when, &now);
    std::printf("=== Orvane agent start %s", when);
}

void settle_password(const StoredPassword& stored)
{
    if (!stored.plain.empty()) {
        agent_config.current_password.set(stored.plain);
    } else {
        std::string secret = unprotect_secret(stored.protected_);
        if (!secret.empty())
            agent_config.current_password.set(secret);
        else
            generate_agent_password();
    }
    // A password_enc that does not decode is left alone for the user to repair.
    if (!stored.plain.empty() || stored.protected_.empty())
        save_agent_password();
    std::printf("[i] Пароль задан (хранится зашифрованным), авто-бан после %d неудач.\n",
                MAX_AUTH_FAILURES);
}

void print_relay_mode()
{
    std::string id = agent_config.relay_id.get();
    std::printf("[i] Режим релея: %s:%u id=%s\n", agent_config.relay_host.c_str(),
                unsigned(agent_config.relay_port),
                id.empty() ? "(выдаст релей, закрепится после первого подключения)" : id.c_str());
}

// Direct mode's listener; INVALID_SOCKET after the failure line was written.
SOCKET open_listener(std::uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        std::fprintf(stderr, "socket() failed: %d\n", WSAGetLastError());
        return INVALID_SOCKET;
    }
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        std::fprintf(stderr, "bind() failed: %d\n", WSAGetLastError());
        closesocket(s);
        return INVALID_SOCKET;
    }
    if (listen(s, 1) == SOCKET_ERROR) {
        std::fprintf(stderr, "listen() failed: %d\n", WSAGetLastError());
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void show_banner()
{
    HWND banner = create_banner();
    if (!banner)
        return;
    bool shown = viewer_connected || agent_config.accept_connections;
    ShowWindow(banner, shown ? SW_SHOW : SW_HIDE);
    SetThreadExecutionState(ES_CONTINUOUS | (shown ? ES_SYSTEM_REQUIRED : 0));
}

// Started by double-click, the console belongs to us alone and only clutters.
void hide_own_console()
{
    HWND console = GetConsoleWindow();
    DWORD processes[2];
    if (console && GetConsoleProcessList(processes, 2) == 1)
        ShowWindow(console, SW_HIDE);
}

void start_detached(LPTHREAD_START_ROUTINE routine, void* arg)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, arg, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}

void run_message_loop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace

int agent_main(int argc, char** argv)
{
    if (!claim_single_instance())
        return 0;
    SetConsoleOutputCP(CP_UTF8);
    if (launched_by_service)
        open_agent_log();
    else
        std::setvbuf(stdout, nullptr, _IONBF, 0);  // lines reach a pipe as they are written

    agent_config.ini_path = prepare_server_ini();
    StoredPassword stored;
    read_server_ini(agent_config.ini_path, agent_config, stored);
    if (argc > 1)
        agent_config.port = port_from_argument(argv[1]);

    if (!agent_config.allow.empty())
        std::printf("[i] Белый список: %s\n", agent_config.allow.c_str());
    else
        std::printf("[i] Белый список пуст — пускаю всех.\n");
    settle_password(stored);

    ban_list_path = exe_directory() + "banlist.txt";
    load_ban_list(ban_list, ban_list_path, _time64(nullptr));
    const bool relay_mode = !agent_config.relay_host.empty();
    if (relay_mode)
        print_relay_mode();

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        std::fprintf(stderr, "WSAStartup failed\n");
        return 1;
    }
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);

    SSL_CTX* tls = create_server_tls_context();
    if (!tls)
        return 1;

    SOCKET listener = INVALID_SOCKET;
    if (relay_mode) {
        std::printf("=== Orvane (релей) ===\n");
        std::printf("Жду клиента через релей %s id=%s\n", agent_config.relay_host.c_str(),
                    agent_config.relay_id.get().c_str());
    } else {
        listener = open_listener(agent_config.port);
        if (listener == INVALID_SOCKET)
            return 1;
        std::printf("=== Orvane ===\n");
        std::printf("Слушаю порт %d. Ожидаю зрителя...\n", int(agent_config.port));
    }

    show_banner();
    create_tray();
    if (launched_by_service)
        start_detached(watch_session_notify, nullptr);
    create_main_window();
    hide_own_console();
    start_detached(reachability_poller, nullptr);
    auto* accept_args = new AcceptThreadArgs{listener, tls};
    HANDLE acceptor = CreateThread(nullptr, 0, accept_thread, accept_args, 0, nullptr);
    if (!acceptor)
        delete accept_args;

    run_message_loop();

    remove_tray_icon();
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    SSL_CTX_free(tls);
    Gdiplus::GdiplusShutdown(gdiplus_token);
    WSACleanup();
    if (acceptor)
        CloseHandle(acceptor);
    return 0;
}
