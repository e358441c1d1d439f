#include "host/accept.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <memory>
#include <string>

#include <mstcpip.h>

#include "app/agent_config_win.h"
#include "app/agent_log.h"
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
    if (is_banned(agent.bans, address)) {
        log_info("[X] Отклонено (в бане): %s\n", label.c_str());
        return false;
    }
    if (!agent.config.allow.empty() && !address_allowed(agent.config.allow, address)) {
        log_info("[!] Заблокировано (не в белом списке): %s\n", label.c_str());
        return false;
    }
    if (!agent.config.accept_connections) {
        log_info("[x] Входящее подключение отклонено (подключения запрещены вручную): %s\n",
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
        UniqueSocket s(accept(listener, reinterpret_cast<sockaddr*>(&peer), &peer_size));
        if (!s) {
            Sleep(100);
            continue;
        }
        char address[22] = {};
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        char label[64];
        std::snprintf(label, sizeof label, "%s:%d", address, int(ntohs(peer.sin_port)));
        if (!admit(address, label))
            continue;  // closed as s goes
        const std::string remote = address;
        run_viewer_session(std::move(s), tls, label, &remote);
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
    log_info("\n========================================\n");
    log_info("  ID:     %s\n", id.c_str());
    log_info("  ПАРОЛЬ: %s\n", agent.config.current_password.get().c_str());
    log_info("  (сообщите их тому, кто подключается)\n");
    log_info("========================================\n\n");
}

// The first ID the relay gives is kept in server.ini so the agent keeps it.
// Only at the run's first registration: an ID the user has reset since must
// not come back when the agent registers again after a session.
void publish_relay_id(const std::string& id, bool first_of_run)
{
    if (first_of_run && agent.config.relay_id.empty()) {
        agent.config.relay_id.set(id);
        write_server_ini_key(agent.config.ini_path, "relay_id", id);
    }
    agent.relay_assigned_id.set(id);
    agent.banner_caption.set(L"ID: " + utf8_to_wide(id).substr(0, 64));
    post_agent_state_changed();
}

// Returns the socket once the relay has said "ID ..."; empty otherwise.
UniqueSocket register_at_relay(const std::string& wanted, std::string& id)
{
    UniqueSocket s =
        relay_connect(agent.config.relay_host, agent.config.relay_port, register_request(wanted));
    if (!s)
        return s;
    prepare_registration_socket(s.get());
    std::string line;
    if (!read_relay_line(s.get(), REGISTER_ANSWER_MAX, line) || !id_from_register_answer(line, id))
        return UniqueSocket();
    set_receive_timeout(s.get(), 0);
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
        const int status =
            relay_query_status(agent.config.relay_host, agent.config.relay_port, id, 5000);
        if (status != 0)
            continue;  // online, or unclear: keep waiting on the same connection
        // The relay may be handing a viewer over right now.
        if (wait_readable(s, 3) > 0)
            return RelayWait::Spoke;
        log_info("[!] relay: registration lost (relay says OFFLINE), re-registering\n");
        return RelayWait::Lost;
    }
}

// One registration: register, wait, and run the session the relay brings.
// Returns the pause before the next cycle, in milliseconds.
DWORD relay_cycle(SSL_CTX* tls, std::string& registered)
{
    std::string wanted = registered;
    if (wanted.empty())
        wanted = agent.config.relay_id.get();
    if (wanted.empty())
        wanted = "-";
    std::string id;
    UniqueSocket s = register_at_relay(wanted, id);
    if (!s) {
        log_info("[!] Релей: регистрация не удалась (id занят или релей недоступен). "
                 "Повтор через 3с.\n");
        return 3000;
    }
    print_id_block(id);
    const bool first_of_run = registered.empty();
    registered = id;
    publish_relay_id(id, first_of_run);
    const std::string label = "relay id=" + id;

    if (wait_for_relay(s.get(), id) != RelayWait::Spoke)
        return 1000;
    std::string line;
    if (!read_relay_line(s.get(), JOIN_ANSWER_MAX, line)) {
        log_info("[!] relay: connection to relay dropped, re-registering\n");
        return 1000;
    }
    if (line != "OK")
        return 1000;
    if (!agent.config.accept_connections) {
        log_info("[x] Входящее подключение отклонено (подключения запрещены вручную): %s\n",
                 label.c_str());
        return 200;
    }
    if (run_viewer_session(std::move(s), tls, label, nullptr) != SessionStart::refused)
        return 0;
    // The relay hides the viewer's address, so no ban can stop someone who
    // knows the ID from guessing; a pause before the next registration slows
    // the guessing down to about one password a second.
    log_info("[!] Релей: вход не удался, новая регистрация через 1 с (защита от подбора "
             "пароля).\n");
    return 1000;
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
    const AcceptThreadArgs args =
        *std::unique_ptr<AcceptThreadArgs>(static_cast<AcceptThreadArgs*>(raw));
    if (agent.config.relay_host.empty())
        accept_direct(args.listener, args.tls);
    accept_relay(args.tls);
}
