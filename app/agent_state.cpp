#include "app/agent_state.h"

AgentState agent;
