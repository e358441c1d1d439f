#include "host/accept.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <string>

#include "app/agent_state.h"
#include "host/allow_list.h"
#include "host/ban_list.h"
#include "host/session.h"

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

} // namespace

DWORD WINAPI accept_thread(void* raw)
{
    AcceptThreadArgs args = *static_cast<AcceptThreadArgs*>(raw);
    delete static_cast<AcceptThreadArgs*>(raw);
    if (agent_config.relay_host.empty())
        accept_direct(args.listener, args.tls);
    // Relay registration is not built yet: a relay-mode agent admits no one.
    return 0;
}
