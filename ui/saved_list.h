#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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

// Shared by the main thread and the reachability poller, under saved_list_lock.
extern std::vector<ServerEntry> saved_list;
extern std::vector<int> reachability;  // per entry: 1 reachable, 0 not, -1 unknown
extern CRITICAL_SECTION saved_list_lock;
void init_saved_list_lock();
