#pragma once
#include <windows.h>

#include <functional>
#include <mutex>

#include "app/win_handles.h"

inline constexpr DWORD SERVICE_CONTROLS = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;
inline constexpr DWORD PENDING_WAIT_HINT_MS = 3000;
inline constexpr DWORD LAUNCH_RETRY_MS = 3000;   // no agent: try again this often
inline constexpr DWORD RESTART_DELAY_MS = 1000;  // an agent ended: start the next after this
inline constexpr DWORD FAILED_WAIT_PAUSE_MS = 1000;
inline constexpr DWORD AGENT_EXIT_WAIT_MS = 5000;  // for a terminated agent to be gone

// The service process's state: its status record with the checkpoint
// counter, and the events the control handler sets for the supervision loop.
struct ServiceHost {
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
    DWORD checkpoint = 1;
    std::mutex status_lock;  // the handler and the loop report from two threads
    SERVICE_STATUS_HANDLE status_handle = nullptr;
    // Where reports go instead of the service manager (tests), when set.
    std::function<void(const SERVICE_STATUS&)> publish;
    // Starts one agent; its process handle, or none. The session launcher
    // unless replaced (tests).
    std::function<UniqueHandle()> launch_agent;

    UniqueHandle stop_event;     // manual-reset, set on stop
    UniqueHandle session_event;  // auto-reset, set when the active session may have changed
};

// Writes the status record and hands it on; pending states take the next
// checkpoint and the wait hint, the others 0 and 0.
void report_status(ServiceHost& host, DWORD state, DWORD accepted, bool pending,
                   DWORD exit_code = NO_ERROR);

// The handler registered with the service manager; `context` is the host.
DWORD WINAPI service_control_handler(DWORD control, DWORD event_type, void* event_data,
                                     void* context);

// The service's life once its handler is registered: start pending, running,
// the supervision loop until stopped, stopped. The agent is gone when it returns.
void run_service(ServiceHost& host);
