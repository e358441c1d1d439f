#include "net/relay_client.h"

#include <ws2tcpip.h>

#include "app/agent_state.h"
#include "net/relay_answers.h"

namespace {

addrinfo* resolve_ipv4(const std::string& host, unsigned port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &result) != 0)
        return nullptr;
    return result;
}

bool send_all(SOCKET s, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        int n = send(s, data.data() + done, int(data.size() - done), 0);
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

} // namespace

void set_receive_timeout(SOCKET s, unsigned ms)
{
    DWORD value = ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}

SOCKET relay_connect(const std::string& host, unsigned port, const std::string& request)
{
    addrinfo* address = resolve_ipv4(host, port);
    if (!address)
        return INVALID_SOCKET;
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    const bool ok = s != INVALID_SOCKET &&
                    connect(s, address->ai_addr, int(address->ai_addrlen)) == 0 &&
                    send_all(s, request);
    freeaddrinfo(address);
    if (!ok && s != INVALID_SOCKET) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    return s;
}

bool read_relay_line(SOCKET s, std::size_t max, std::string& line)
{
    line.clear();
    for (;;) {
        char byte;
        if (recv(s, &byte, 1, 0) <= 0) {
            line.clear();
            return false;
        }
        if (add_line_byte(line, byte, max))
            return true;
    }
}

int relay_query_status(const std::string& host, unsigned port, const std::string& id,
                       unsigned timeout_ms)
{
    SOCKET s = relay_connect(host, port, status_request(id));
    if (s == INVALID_SOCKET)
        return -1;
    set_receive_timeout(s, timeout_ms);
    std::string line;
    const bool answered = read_relay_line(s, STATUS_ANSWER_MAX, line);
    closesocket(s);
    return answered ? status_from_answer(line) : -1;
}

bool relay_query_version(std::string& version)
{
    version.clear();
    SOCKET s = relay_connect(agent_config.relay_host, agent_config.relay_port, version_request());
    if (s == INVALID_SOCKET)
        return false;
    set_receive_timeout(s, 3000);
    std::string line;
    const bool answered = read_relay_line(s, VERSION_ANSWER_MAX, line);
    closesocket(s);
    return answered && version_from_answer(line, version);
}

int probe_tcp(const std::string& host, unsigned port)
{
    addrinfo* address = resolve_ipv4(host, port);
    if (!address)
        return -1;
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET) {
        freeaddrinfo(address);
        return -1;
    }
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    connect(s, address->ai_addr, int(address->ai_addrlen));
    freeaddrinfo(address);
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);  // Winsock reports a refused connect here
    timeval timeout{2, 0};
    int result = 0;
    if (select(0, nullptr, &writable, &failed, &timeout) > 0 && FD_ISSET(s, &writable)) {
        int error = 0;
        int size = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
        result = error == 0 ? 1 : 0;
    }
    closesocket(s);
    return result;
}
