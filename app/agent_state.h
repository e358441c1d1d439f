#pragma once
#include <atomic>
#include <string>

#include "app/agent_config.h"
#include "app/shared_text.h"
#include "host/ban_list.h"

inline constexpr std::size_t VIEWER_NAME_FIELD = 65;

// The agent's process-wide state. The config is filled before any thread
// starts; the rest is written by one thread and read by the interface.
struct AgentState {
    AgentConfig config;
    bool launched_by_service = false;           // set by --agent
    std::atomic<bool> viewer_connected{false};  // an authorised session runs
    SharedText<wchar_t, VIEWER_NAME_FIELD> viewer_name;

    // Written by the accept thread and the poller, shown by the interface.
    SharedText<char, 64> relay_assigned_id;   // the ID the relay registered us under
    SharedText<wchar_t, 128> banner_caption;  // "ID: <id>"
    SharedText<char, 64> relay_info;          // the relay's version text

    BanState bans;  // loaded at start-up, then the accept thread's alone
};

extern AgentState agent;
