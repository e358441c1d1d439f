#include "service/session_choice.h"

std::uint32_t choose_agent_session(std::span<const SessionEntry> listed,
                                   std::uint32_t console_session)
{
    for (const SessionEntry& entry : listed) {
        if (entry.active)
            return entry.id != NO_SESSION ? entry.id : console_session;
    }
    return console_session;
}
