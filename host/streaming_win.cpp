#include <cstdio>

#include "app/agent_state.h"
#include "host/session.h"
#include "net/message_io.h"
#include "net/tls.h"
#include "ui/tray.h"

namespace {

// True when a message has begun to arrive within wait_ms.
bool message_waiting(SSL* ssl, SOCKET s, long wait_ms)
{
    if (SSL_pending(ssl) > 0)
        return true;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{wait_ms / 1000, (wait_ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &timeout) != 0;  // errors read and fail
}

} // namespace

// Until the screen is streamed, an authorised viewer is kept connected and
// answered: pings get their pong, everything else is read and set aside.
void stream_session(SSL* ssl, SOCKET s, const std::string& label)
{
    for (;;) {
        if (!message_waiting(ssl, s, 33))
            continue;
        Message message;
        if (!read_msg(ssl, message))
            break;
        if (message.type == MSG_PING && !send_msg(ssl, MSG_PONG, nullptr, 0)) {
            free_message(message);
            break;
        }
        free_message(message);
    }
    std::printf("[-] Зритель отключился: %s\n", label.c_str());
    viewer_connected = false;
    viewer_name.set(L"");
    update_banner_visibility();
    update_tray();
    close_tls(ssl, s);
}
