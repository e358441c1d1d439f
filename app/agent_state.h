#pragma once
#include <atomic>
#include <string>

#include "app/agent_config.h"
#include "app/shared_text.h"

// Process-wide agent state. AgentConfig is filled before any thread starts;
// the rest is written by one thread and read by the interface.
extern AgentConfig agent_config;
extern bool launched_by_service;             // set by --agent
extern std::atomic<bool> viewer_connected;   // an authorised session runs
inline constexpr std::size_t VIEWER_NAME_FIELD = 65;
extern SharedText<wchar_t, VIEWER_NAME_FIELD> viewer_name;

// Written by the accept thread and the poller, shown by the interface.
extern SharedText<char, 64> relay_assigned_id;      // the ID the relay registered us under
extern SharedText<wchar_t, 128> banner_caption;     // "ID: <id>"
extern SharedText<char, 64> relay_info;             // the relay's version text
