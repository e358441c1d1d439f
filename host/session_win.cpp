#include "host/session.h"

#include <cstdio>

#include "app/agent_log.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "host/ban_list.h"
#include "host/password_check.h"
#include "net/message_io.h"
#include "net/tls.h"
#include "ui/tray.h"

namespace {

// The handshake runs on the only accept thread: a peer that connects and says
// nothing must not lock every other viewer out.
constexpr DWORD HANDSHAKE_TIMEOUT_MS = 5000;
constexpr DWORD AUTH_TIMEOUT_MS = 5000;
constexpr DWORD STREAM_RECEIVE_TIMEOUT_MS = 200;
// A viewer that stops reading ends its session instead of blocking the agent.
constexpr DWORD STREAM_SEND_TIMEOUT_MS = 15000;

void set_timeout(SOCKET s, int option, DWORD ms)
{
    setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms);
}

bool authenticate(SSL* ssl)
{
    Message message;
    if (!read_msg(ssl, message, MAX_AUTH_MSG_LEN))
        return false;
    const bool ok =
        message.type == MSG_AUTH &&
        password_matches(agent.config.current_password.get(), message.payload, message.size);
    free_message(message);
    return ok;
}

void announce_viewer(const std::string& label)
{
    log_info("[+] Подключился зритель (TLS, авторизован): %s\n", label.c_str());
    agent.viewer_connected = true;
    agent.viewer_name.set(ansi_to_wide(label));
    post_agent_state_changed();
}

} // namespace

void run_viewer_session(UniqueSocket socket, SSL_CTX* ctx, const std::string& label,
                        const std::string* address)
{
    const SOCKET s = socket.get();
    set_timeout(s, SO_RCVTIMEO, HANDSHAKE_TIMEOUT_MS);
    set_timeout(s, SO_SNDTIMEO, HANDSHAKE_TIMEOUT_MS);
    TlsConnection connection(std::move(socket), accept_tls(s, ctx));
    if (!connection.ssl) {
        log_info("[!] Отклонено (TLS): %s\n", label.c_str());
        if (address)
            record_failure(agent.bans, *address, label);
        return;
    }

    set_timeout(s, SO_RCVTIMEO, AUTH_TIMEOUT_MS);
    if (!authenticate(connection.ssl.get())) {
        log_info("[!] Неверный пароль: %s\n", label.c_str());
        if (address)
            record_failure(agent.bans, *address, label);
        return;
    }

    // A broken link shows at the next read.
    send_msg(connection.ssl.get(), MSG_AUTH_OK, nullptr, 0);
    if (address)
        reset_failures(agent.bans, *address);
    set_timeout(s, SO_RCVTIMEO, STREAM_RECEIVE_TIMEOUT_MS);
    set_timeout(s, SO_SNDTIMEO, STREAM_SEND_TIMEOUT_MS);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    announce_viewer(label);
    stream_session(std::move(connection), label);
}
