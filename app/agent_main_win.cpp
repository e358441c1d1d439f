// The agent's start-up, message loop and shutdown.
#include "app/agent_main.h"

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>  // GDI+ needs it under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <ctime>
#include <memory>

#include "app/agent_config_win.h"
#include "app/agent_log.h"
#include "app/agent_state.h"
#include "app/win_handles.h"
#include "app/win_thread.h"
#include "app/win_util.h"
#include "credentials/protected_storage.h"
#include "host/accept.h"
#include "host/ban_list.h"
#include "net/tls.h"
#include "service/session_watch.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/reachability.h"
#include "ui/tray.h"
#include "ui/ui_state.h"

namespace {

constexpr wchar_t NO_RANDOM_TEXT[] =
    L"Не удалось создать пароль: системный генератор случайных чисел не работает. Orvane не "
    L"запущен, чтобы не принимать подключения с угадываемым паролем. Задайте пароль вручную "
    L"(ключ password в server.ini рядом с программой) и запустите Orvane снова.";

constexpr wchar_t ALREADY_RUNNING_TEXT[] =
    L"Orvane уже запущен на этом компьютере — повторный экземпляр не нужен (общий порт/ID на "
    L"релее, два агента будут мешать друг другу).";

// One agent per machine: a second one would fight the first for the port or
// the relay ID. False when another agent already runs.
bool claim_single_instance()
{
    SetLastError(0);
    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, L"Global\\OrvaneAgentRunning"));
    if (!mutex) {
        SetLastError(0);
        mutex.reset(CreateMutexW(nullptr, TRUE, L"OrvaneAgentRunning"));
    }
    if (!mutex) {
        report_win32_failure("CreateMutex");  // no guard: run unguarded rather than not at all
        return true;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!agent.launched_by_service)
            show_message_box(nullptr, ALREADY_RUNNING_TEXT, MB_ICONINFORMATION);
        return false;
    }
    mutex.release();  // held for the life of the process
    return true;
}

void start_agent_log()
{
    if (!open_agent_log(exe_directory() + "orvane_agent.log"))
        return;
    char when[64] = "?\n";
    __time64_t now = _time64(nullptr);
    _ctime64_s(when, sizeof when, &now);
    log_info("=== Orvane agent start %s", when);
}

void print_relay_mode()
{
    std::string id = agent.config.relay_id.get();
    log_info("[i] Режим релея: %s:%u id=%s\n", agent.config.relay_host.c_str(),
             unsigned(agent.config.relay_port),
             id.empty() ? "(выдаст релей, закрепится после первого подключения)" : id.c_str());
}

// Direct mode's listener; empty after the failure line was written.
UniqueSocket open_listener(std::uint16_t port)
{
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) {
        log_error("socket() failed: %d\n", WSAGetLastError());
        return s;
    }
    BOOL reuse = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        log_error("bind() failed: %d\n", WSAGetLastError());
        return UniqueSocket();
    }
    if (listen(s.get(), 1) == SOCKET_ERROR) {
        log_error("listen() failed: %d\n", WSAGetLastError());
        return UniqueSocket();
    }
    return s;
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

void hide_own_console()
{
    if (!ui.tray_window)
        return;
    HWND console = GetConsoleWindow();
    DWORD processes[2];
    if (console && GetConsoleProcessList(processes, 2) == 1)
        ShowWindow(console, SW_HIDE);
}

bool settle_agent_password(const StoredPassword& stored, std::span<const RandomSource> sources)
{
    std::string secret = stored.plain;
    if (secret.empty())
        secret = unprotect_secret(stored.protected_);
    if (!secret.empty()) {
        agent.config.current_password.set(secret);
    } else if (!generate_agent_password(sources)) {
        log_error("[!] %s\n", wide_to_utf8(NO_RANDOM_TEXT).c_str());
        if (!agent.launched_by_service)
            show_message_box(nullptr, NO_RANDOM_TEXT, MB_ICONERROR);
        return false;
    }
    // A password_enc that does not decode is left alone for the user to repair.
    if (!stored.plain.empty() || stored.protected_.empty())
        save_agent_password();
    log_info("[i] Пароль задан (хранится зашифрованным), авто-бан после %d неудач.\n",
             MAX_AUTH_FAILURES);
    return true;
}

int agent_main(int argc, char** argv)
{
    if (!claim_single_instance())
        return 0;
    SetConsoleOutputCP(CP_UTF8);
    if (agent.launched_by_service)
        start_agent_log();
    else
        std::setvbuf(stdout, nullptr, _IONBF, 0);  // lines reach a pipe as they are written

    agent.config.ini_path = prepare_server_ini();
    StoredPassword stored;
    read_server_ini(agent.config.ini_path, agent.config, stored);
    if (argc > 1)
        agent.config.port = port_from_argument(argv[1]);

    if (!agent.config.allow.empty())
        log_info("[i] Белый список: %s\n", agent.config.allow.c_str());
    else
        log_info("[i] Белый список пуст — пускаю всех.\n");
    if (!settle_agent_password(stored))
        return 1;

    agent.bans.path = exe_directory() + "banlist.txt";
    load_ban_list(agent.bans.list, agent.bans.path, _time64(nullptr));
    const bool relay_mode = !agent.config.relay_host.empty();
    if (relay_mode)
        print_relay_mode();

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        log_error("WSAStartup failed\n");
        return 1;
    }
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);

    const SslCtxPtr tls = create_server_tls_context();
    if (!tls)
        return 1;

    UniqueSocket listener;
    if (relay_mode) {
        log_info("=== Orvane (релей) ===\n");
        log_info("Жду клиента через релей %s id=%s\n", agent.config.relay_host.c_str(),
                 agent.config.relay_id.get().c_str());
    } else {
        listener = open_listener(agent.config.port);
        if (!listener)
            return 1;
        log_info("=== Orvane ===\n");
        log_info("Слушаю порт %d. Ожидаю зрителя...\n", int(agent.config.port));
    }

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (create_banner(instance))
        update_banner_visibility();
    create_tray(instance);
    if (agent.launched_by_service)
        start_detached(watch_session_notify);
    create_main_window(instance);
    hide_own_console();
    start_detached(reachability_poller);
    auto accept_args = std::make_unique<AcceptThreadArgs>();
    accept_args->listener = listener.get();
    accept_args->tls = tls.get();
    const UniqueHandle acceptor = start_thread(accept_thread, std::move(accept_args));

    run_message_loop();

    remove_tray_icon();
    Gdiplus::GdiplusShutdown(gdiplus_token);
    return 0;
}
