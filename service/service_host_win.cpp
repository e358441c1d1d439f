#include "service/service_host.h"

#include <wtsapi32.h>

#include "service/session_watch.h"

void report_status(ServiceHost& host, DWORD state, DWORD accepted, bool pending, DWORD exit_code)
{
    std::lock_guard lock(host.status_lock);
    SERVICE_STATUS& status = host.status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWin32ExitCode = exit_code;
    status.dwCheckPoint = pending ? host.checkpoint++ : 0;
    status.dwWaitHint = pending ? PENDING_WAIT_HINT_MS : 0;
    if (host.publish)
        host.publish(status);
    else
        SetServiceStatus(host.status_handle, &status);
}

namespace {

// Log-on and log-off keep the agent but move input to another desktop: the
// agent rebuilds its interface there when this event is set.
void signal_session_notify()
{
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, SESSION_NOTIFY_EVENT));
    if (!event)
        event.reset(CreateEventW(nullptr, TRUE, FALSE, SESSION_NOTIFY_EVENT));
    if (event)
        SetEvent(event.get());
}

void on_session_change(ServiceHost& host, DWORD event_type)
{
    switch (event_type) {
    case WTS_CONSOLE_CONNECT:
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_CONNECT:
    case WTS_REMOTE_DISCONNECT:
        SetEvent(host.session_event.get());  // the agent moves to the active session
        break;
    case WTS_SESSION_LOGON:
    case WTS_SESSION_LOGOFF:
        signal_session_notify();
        break;
    default:
        break;  // lock, unlock and the like: the agent follows the desktop itself
    }
}

// Ends the agent and waits until it is gone: a service reported stopped has
// no agent left, and the next agent does not meet the old one's
// single-instance mutex or port.
void end_agent(UniqueHandle& agent)
{
    if (!agent)
        return;
    TerminateProcess(agent.get(), 0);
    WaitForSingleObject(agent.get(), AGENT_EXIT_WAIT_MS);
    agent.reset();
}

// Pauses for `ms` unless the service is stopped meanwhile; true when it is.
bool stopped_within(const ServiceHost& host, DWORD ms)
{
    DWORD result = WaitForSingleObject(host.stop_event.get(), ms);
    if (result == WAIT_FAILED)
        Sleep(ms);
    return result == WAIT_OBJECT_0;
}

// Keeps one agent running until the stop event; the agent is ended on return.
void supervise_agent(ServiceHost& host)
{
    UniqueHandle agent;
    for (;;) {
        if (!agent)
            agent = host.launch_agent();
        const HANDLE objects[] = {host.stop_event.get(), host.session_event.get(), agent.get()};
        const DWORD result = WaitForMultipleObjects(agent ? 3 : 2, objects, FALSE,
                                                    agent ? INFINITE : LAUNCH_RETRY_MS);
        switch (result) {
        case WAIT_OBJECT_0:
            end_agent(agent);
            return;
        case WAIT_OBJECT_0 + 1:
            ResetEvent(host.session_event.get());
            end_agent(agent);  // and start one in the now active session at once
            break;
        case WAIT_OBJECT_0 + 2:  // the agent ended, whatever its exit code
            agent.reset();
            if (stopped_within(host, RESTART_DELAY_MS))
                return;
            break;
        case WAIT_TIMEOUT:  // no agent yet (no one logged on): try again
            break;
        default:
            // A wait that failed would fail again at once: pause instead of spinning.
            if (stopped_within(host, FAILED_WAIT_PAUSE_MS)) {
                end_agent(agent);
                return;
            }
            break;
        }
    }
}

} // namespace

DWORD WINAPI service_control_handler(DWORD control, DWORD event_type, void*, void* context)
{
    ServiceHost& host = *static_cast<ServiceHost*>(context);
    switch (control) {
    case SERVICE_CONTROL_STOP:
        report_status(host, SERVICE_STOP_PENDING, SERVICE_CONTROLS, true);
        SetEvent(host.stop_event.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE:
        on_session_change(host, event_type);
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void run_service(ServiceHost& host)
{
    report_status(host, SERVICE_START_PENDING, 0, true);
    host.stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    host.session_event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!host.stop_event || !host.session_event) {
        // Without its events the service could be neither stopped nor told of
        // sessions: it ends at once and says why.
        report_status(host, SERVICE_STOPPED, 0, false, GetLastError());
        return;
    }
    report_status(host, SERVICE_RUNNING, SERVICE_CONTROLS, false);
    supervise_agent(host);
    report_status(host, SERVICE_STOPPED, SERVICE_CONTROLS, false);
}
