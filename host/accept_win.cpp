#include "host/accept.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <string>

#include <mstcpip.h>

#include "app/agent_config_win.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "host/allow_list.h"
#include "host/ban_list.h"
#include "host/session.h"
#include "net/relay_answers.h"
#include "net/relay_client.h"
#include "ui/tray.h"

namespace {

// Admission checks in their order, before any TLS: ban, allow-list, switch.
// A refusal is a plain close and is not counted as a failed attempt.
bool admit(const std::string& address, const std::string& label)
{
    if (is_banned(address)) {
        std::printf("[X] Отклонено (в бане): %s\n", label.c_str());
        return false;
    }
    if (!agent_config.allow.empty() && !address_allowed(agent_config.allow, address)) {
        std::printf("[!] Заблокировано (не в белом списке): %s\n", label.c_str());
        return false;
    }
    if (!agent_config.accept_connections) {
        std::printf("[x] Входящее подключение отклонено (подключения запрещены вручную): %s\n",
                    label.c_str());
        return false;
    }
    return true;
}

[[noreturn]] void accept_direct(SOCKET listener, SSL_CTX* tls)
{
    for (;;) {
        sockaddr_in peer{};
        int peer_size = sizeof peer;
        SOCKET s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peer_size);
        if (s == INVALID_SOCKET) {
            Sleep(100);
            continue;
        }
        char address[22] = {};
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        char label[64];
        std::snprintf(label, sizeof label, "%s:%d", address, int(ntohs(peer.sin_port)));
        if (!admit(address, label)) {
            closesocket(s);
            continue;
        }
        const std::string remote = address;
        run_viewer_session(s, tls, label, &remote);
    }
}

// Keep-alive finds a relay that vanished without a close; the answer to the
// registration must come within 8 s.
void prepare_registration_socket(SOCKET s)
{
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive keepalive{1, 30000, 5000};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned, nullptr,
             nullptr);
    set_receive_timeout(s, 8000);
}

void print_id_block(const std::string& id)
{
    std::printf("\n========================================\n");
    std::printf("  ID:     %s\n", id.c_str());
    std::printf("  ПАРОЛЬ: %s\n", agent_config.current_password.get().c_str());
    std::printf("  (сообщите их тому, кто подключается)\n");
    std::printf("========================================\n\n");
}

// The first ID the relay gives is kept in server.ini so the agent keeps it.
void publish_relay_id(const std::string& id)
{
    if (agent_config.relay_id.empty()) {
        agent_config.relay_id.set(id);
        write_server_ini_key(agent_config.ini_path, "relay_id", id);
    }
    relay_assigned_id.set(id);
    update_tray();
    banner_caption.set(L"ID: " + utf8_to_wide(id).substr(0, 64));
    if (banner_window) {
        update_banner_size();
        InvalidateRect(banner_window, nullptr, TRUE);
    }
}

// Returns the socket once the relay has said "ID ..."; INVALID_SOCKET otherwise.
SOCKET register_at_relay(const std::string& wanted, std::string& id)
{
    SOCKET s = relay_connect(agent_config.relay_host, agent_config.relay_port,
                             register_request(wanted));
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    prepare_registration_socket(s);
    std::string line;
    if (!read_relay_line(s, REGISTER_ANSWER_MAX, line) || !id_from_register_answer(line, id)) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    set_receive_timeout(s, 0);
    return s;
}

// select's answer: 1 readable, 0 time-out, negative on failure.
int wait_readable(SOCKET s, long seconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{seconds, 0};
    return select(0, &readable, nullptr, nullptr, &timeout);
}

enum class RelayWait { Spoke, Lost, Failed };

// Waits for the relay to hand over a viewer, asking every idle minute whether
// it still lists us.
RelayWait wait_for_relay(SOCKET s, const std::string& id)
{
    for (;;) {
        const int ready = wait_readable(s, 60);
        if (ready < 0)
            return RelayWait::Failed;
        if (ready > 0)
            return RelayWait::Spoke;
        const int status = relay_query_status(agent_config.relay_host, agent_config.relay_port,
                                              id, 5000);
        if (status != 0)
            continue;  // online, or unclear: keep waiting on the same connection
        // The relay may be handing a viewer over right now.
        if (wait_readable(s, 3) > 0)
            return RelayWait::Spoke;
        std::printf("[!] relay: registration lost (relay says OFFLINE), re-registering\n");
        return RelayWait::Lost;
    }
}

// One registration: register, wait, and run the session the relay brings.
// Returns the pause before the next cycle, in milliseconds.
DWORD relay_cycle(SSL_CTX* tls, std::string& registered)
{
    std::string wanted = registered;
    if (wanted.empty())
        wanted = agent_config.relay_id.get();
    if (wanted.empty())
        wanted = "-";
    std::string id;
    SOCKET s = register_at_relay(wanted, id);
    if (s == INVALID_SOCKET) {
        std::printf("[!] Релей: регистрация не удалась (id занят или релей недоступен). "
                    "Повтор через 3с.\n");
        return 3000;
    }
    print_id_block(id);
    registered = id;
    publish_relay_id(id);
    const std::string label = "relay id=" + id;

    switch (wait_for_relay(s, id)) {
    case RelayWait::Spoke:
        break;
    case RelayWait::Lost:
    case RelayWait::Failed:
        closesocket(s);
        return 1000;
    }
    std::string line;
    if (!read_relay_line(s, JOIN_ANSWER_MAX, line)) {
        std::printf("[!] relay: connection to relay dropped, re-registering\n");
        closesocket(s);
        return 1000;
    }
    if (line != "OK") {
        closesocket(s);
        return 1000;
    }
    if (!agent_config.accept_connections) {
        std::printf("[x] Входящее подключение отклонено (подключения запрещены вручную): %s\n",
                    label.c_str());
        closesocket(s);
        return 200;
    }
    run_viewer_session(s, tls, label, nullptr);
    return 0;
}

[[noreturn]] void accept_relay(SSL_CTX* tls)
{
    std::string registered;  // kept across cycles of this run
    for (;;) {
        DWORD pause = relay_cycle(tls, registered);
        if (pause)
            Sleep(pause);
    }
}

} // namespace

DWORD WINAPI accept_thread(void* raw)
{
    AcceptThreadArgs args = *static_cast<AcceptThreadArgs*>(raw);
    delete static_cast<AcceptThreadArgs*>(raw);
    if (agent_config.relay_host.empty())
        accept_direct(args.listener, args.tls);
    accept_relay(args.tls);
}
