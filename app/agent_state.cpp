#include "app/agent_state.h"

AgentConfig agent_config;
bool launched_by_service = false;
std::atomic<bool> viewer_connected{false};
SharedText<wchar_t, VIEWER_NAME_FIELD> viewer_name;
SharedText<char, 64> relay_assigned_id;
SharedText<wchar_t, 128> banner_caption;
SharedText<char, 64> relay_info;
