#include "service/service_main.h"

#include <windows.h>

#include <cstdio>

#include "app/agent_log.h"

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS service_status{};
DWORD checkpoint = 1;
HANDLE stop_event = nullptr;

constexpr DWORD ACCEPTED_CONTROLS = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;

void report_status(DWORD state, DWORD accepted, bool pending)
{
    service_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    service_status.dwCurrentState = state;
    service_status.dwControlsAccepted = accepted;
    service_status.dwWin32ExitCode = 0;
    service_status.dwCheckPoint = pending ? checkpoint++ : 0;
    service_status.dwWaitHint = pending ? 3000 : 0;
    SetServiceStatus(status_handle, &service_status);
}

DWORD WINAPI service_control_handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        report_status(SERVICE_STOP_PENDING, ACCEPTED_CONTROLS, true);
        SetEvent(stop_event);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SESSIONCHANGE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Keeps the service running until it is stopped. Supervising the agent in the
// user's session is built on this body.
void WINAPI service_main(DWORD, wchar_t**)
{
    status_handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, service_control_handler, nullptr);
    if (!status_handle)
        return;
    report_status(SERVICE_START_PENDING, 0, true);
    stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report_status(SERVICE_RUNNING, ACCEPTED_CONTROLS, false);
    WaitForSingleObject(stop_event, INFINITE);
    report_status(SERVICE_STOPPED, ACCEPTED_CONTROLS, false);
}

} // namespace

int run_service_dispatcher()
{
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<wchar_t*>(SERVICE_NAME), service_main},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherW(table))
        return 0;
    log_info("[!] StartServiceCtrlDispatcher: ошибка %lu\n", GetLastError());
    log_info("    (режим --service запускает система, не запускай его руками)\n");
    return 1;
}
