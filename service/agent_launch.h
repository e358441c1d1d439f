#pragma once
#include "app/win_handles.h"

// Starts this executable with "--agent" under the service's own account,
// moved into the session someone works in, on its default desktop (or the
// log-on desktop when that cannot be used). The new process's handle, or
// none when there is no such session or the process could not be started.
UniqueHandle launch_agent_in_active_session();
