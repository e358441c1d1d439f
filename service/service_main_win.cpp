#include "service/service_main.h"

#include <windows.h>

#include "app/agent_log.h"
#include "service/agent_launch.h"
#include "service/service_host.h"

namespace {

ServiceHost host;

void WINAPI service_main(DWORD, wchar_t**)
{
    host.launch_agent = launch_agent_in_active_session;
    host.status_handle =
        RegisterServiceCtrlHandlerExW(SERVICE_NAME, service_control_handler, &host);
    if (!host.status_handle)
        return;
    run_service(host);
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
