#include "net/relay_client.h"

#include <ws2tcpip.h>

#include <memory>

#include "net/relay_answers.h"

namespace {

struct AddrinfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddrinfoFree>;

AddressList resolve_ipv4(const std::string& host, unsigned port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &result) != 0)
        return nullptr;
    return AddressList(result);
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

UniqueSocket relay_connect(const std::string& host, unsigned port, const std::string& request)
{
    const AddressList address = resolve_ipv4(host, port);
    if (!address)
        return UniqueSocket();
    UniqueSocket s(socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    if (!s || connect(s.get(), address->ai_addr, int(address->ai_addrlen)) != 0 ||
        !send_all(s.get(), request))
        return UniqueSocket();
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
    const UniqueSocket s = relay_connect(host, port, status_request(id));
    if (!s)
        return -1;
    set_receive_timeout(s.get(), timeout_ms);
    std::string line;
    const bool answered = read_relay_line(s.get(), STATUS_ANSWER_MAX, line);
    return answered ? status_from_answer(line) : -1;
}

bool relay_query_version(const std::string& host, unsigned port, std::string& version)
{
    version.clear();
    const UniqueSocket s = relay_connect(host, port, version_request());
    if (!s)
        return false;
    set_receive_timeout(s.get(), 3000);
    std::string line;
    const bool answered = read_relay_line(s.get(), VERSION_ANSWER_MAX, line);
    return answered && version_from_answer(line, version);
}

int probe_tcp(const std::string& host, unsigned port)
{
    const AddressList address = resolve_ipv4(host, port);
    if (!address)
        return -1;
    const UniqueSocket owned(
        socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    if (!owned)
        return -1;
    const SOCKET s = owned.get();
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    connect(s, address->ai_addr, int(address->ai_addrlen));
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);  // Winsock reports a refused connect here
    timeval timeout{2, 0};
    if (select(0, nullptr, &writable, &failed, &timeout) <= 0 || !FD_ISSET(s, &writable))
        return 0;
    int error = 0;
    int size = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    return error == 0 ? 1 : 0;
}
