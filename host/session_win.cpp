#include "host/session.h"

#include <cstdio>

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
    const bool ok = message.type == MSG_AUTH &&
                    password_matches(agent_config.current_password.get(), message.payload,
                                     message.size);
    free_message(message);
    return ok;
}

void announce_viewer(const std::string& label)
{
    std::printf("[+] Подключился зритель (TLS, авторизован): %s\n", label.c_str());
    viewer_connected = true;
    viewer_name.set(ansi_to_wide(label));
    if (banner_window) {
        update_banner_size();
        InvalidateRect(banner_window, nullptr, TRUE);
    }
    update_banner_visibility();
    update_tray();
}

} // namespace

void run_viewer_session(SOCKET s, SSL_CTX* ctx, const std::string& label,
                        const std::string* address)
{
    set_timeout(s, SO_RCVTIMEO, HANDSHAKE_TIMEOUT_MS);
    set_timeout(s, SO_SNDTIMEO, HANDSHAKE_TIMEOUT_MS);
    SSL* ssl = accept_tls(s, ctx);
    if (!ssl) {
        std::printf("[!] Отклонено (TLS): %s\n", label.c_str());
        if (address)
            record_failure(*address, label);
        closesocket(s);
        return;
    }

    set_timeout(s, SO_RCVTIMEO, AUTH_TIMEOUT_MS);
    if (!authenticate(ssl)) {
        std::printf("[!] Неверный пароль: %s\n", label.c_str());
        if (address)
            record_failure(*address, label);
        close_tls(ssl, s);
        return;
    }

    send_msg(ssl, MSG_AUTH_OK, nullptr, 0);  // a broken link shows at the next read
    if (address)
        reset_failures(*address);
    set_timeout(s, SO_RCVTIMEO, STREAM_RECEIVE_TIMEOUT_MS);
    set_timeout(s, SO_SNDTIMEO, STREAM_SEND_TIMEOUT_MS);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    announce_viewer(label);
    stream_session(ssl, s, label);
}
