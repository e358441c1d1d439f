#pragma once
#include <cstdint>
#include <span>

// Which terminal-services session the agent is started in.
inline constexpr std::uint32_t NO_SESSION = 0xFFFFFFFF;

struct SessionEntry {
    std::uint32_t id;
    bool active;  // someone works in it (WTSActive)
};

// The first active session of the list, else the console's session;
// NO_SESSION when neither names one. A failed enumeration is an empty list.
std::uint32_t choose_agent_session(std::span<const SessionEntry> listed,
                                   std::uint32_t console_session);
