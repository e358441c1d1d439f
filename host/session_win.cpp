#include "host/session.h"

#include <chrono>
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

// Admission runs on the only accept thread: the TLS handshake and the password
// together get one deadline, so a peer that says nothing, or trickles its
// bytes, cannot lock every other viewer out for long.
constexpr auto ADMISSION_TIME = std::chrono::seconds(8);
// The pump reads only once a message has begun to arrive; the rest of it may
// stall while TCP retransmits a lost segment on a poor link, but not forever.
constexpr DWORD MESSAGE_RECEIVE_TIMEOUT_MS = 15000;
// A viewer that stops reading ends its session instead of blocking the agent.
constexpr DWORD STREAM_SEND_TIMEOUT_MS = 15000;

void set_timeout(SOCKET s, int option, DWORD ms)
{
    setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof ms);
}

bool authenticate(SSL* ssl, TlsDeadline deadline)
{
    Message message;
    if (!read_msg_before(ssl, deadline, message, MAX_AUTH_MSG_LEN))
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
}

} // namespace

SessionStart run_viewer_session(UniqueSocket socket, SSL_CTX* ctx, const std::string& label,
                                const std::string* address)
{
    const SOCKET s = socket.get();
    const TlsDeadline deadline = std::chrono::steady_clock::now() + ADMISSION_TIME;
    set_socket_blocking(int(s), false);
    AcceptOutcome outcome = AcceptOutcome::failed;
    TlsConnection connection(std::move(socket), accept_tls(s, ctx, deadline, outcome));
    if (outcome == AcceptOutcome::closed_silently)
        return SessionStart::closed_silently;  // a probe of whether we answer: not an attempt
    if (!connection.ssl) {
        log_info("[!] Отклонено (TLS): %s\n", label.c_str());
        if (address)
            record_failure(agent.bans, *address, label);
        return SessionStart::refused;
    }

    if (!authenticate(connection.ssl.get(), deadline)) {
        log_info("[!] Неверный пароль: %s\n", label.c_str());
        if (address)
            record_failure(agent.bans, *address, label);
        return SessionStart::refused;
    }

    set_socket_blocking(int(s), true);
    set_timeout(s, SO_RCVTIMEO, MESSAGE_RECEIVE_TIMEOUT_MS);
    set_timeout(s, SO_SNDTIMEO, STREAM_SEND_TIMEOUT_MS);
    // A broken link shows at the next read.
    send_msg(connection.ssl.get(), MSG_AUTH_OK, nullptr, 0);
    if (address)
        reset_failures(agent.bans, *address);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    announce_viewer(label);
    stream_session(std::move(connection), label);
    return SessionStart::admitted;
}
