#pragma once
#include <cstdint>
#include <string>

// One saved computer: reached directly by host and port, or through a relay by ID.
struct ServerEntry {
    std::wstring name;
    std::wstring host;
    std::uint16_t port = 55500;
    std::string password;  // plain while in memory; empty: asked at every connection
    std::wstring relay_host;
    std::uint16_t relay_port = 56000;
    std::wstring relay_id;
};
