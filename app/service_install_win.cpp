#include "app/service_install.h"

#include <windows.h>

#include <cwchar>

#include "app/agent_log.h"
#include "app/win_handles.h"
#include "service/service_main.h"
#include "ui/message_box.h"

namespace {

constexpr wchar_t SERVICE_DISPLAY_NAME[] = L"Orvane Remote Access";
constexpr wchar_t DESCRIPTION_TEXT[] =
    L"Удалённый доступ Orvane (запуск агента в сессии пользователя).";
constexpr wchar_t POLICY_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t GUARD_TEXT[] =
    L"Служба Orvane уже установлена и работает в фоне от имени системы — она переживает "
    L"перезагрузку, выход из системы и даже показывает экран входа. Повторный запуск вручную "
    L"не нужен.\n\nID и пароль — в трее (иконка в области уведомлений) или в server.ini "
    L"рядом с программой.";

// Lets a service raise the secure attention sequence for Ctrl+Alt+Del requests.
void allow_software_sas()
{
    HKEY created = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS)
        return;
    const UniqueRegistryKey key(created);
    DWORD one = 1;
    RegSetValueExW(key.get(), L"SoftwareSASGeneration", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&one), sizeof one);
    log_info("[+] SoftwareSASGeneration=1 (Ctrl+Alt+Del от службы разрешён).\n");
}

// The service waits up to 5 s for its agent before it reports stopped.
constexpr ULONGLONG STOP_WAIT_MS = 30000;
constexpr DWORD STOP_POLL_MS = 100;

// Returns once the service reports stopped, its agent gone with it, or after
// STOP_WAIT_MS: whoever starts Orvane by hand right after must not meet the
// service's agent still holding the single-instance mutex and port.
void wait_until_stopped(SC_HANDLE service)
{
    const ULONGLONG give_up = GetTickCount64() + STOP_WAIT_MS;
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
           GetTickCount64() < give_up)
        Sleep(STOP_POLL_MS);
}

} // namespace

int install_service()
{
    wchar_t exe[MAX_PATH];
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0)
        return 1;
    wchar_t command[MAX_PATH + 32];
    std::swprintf(command, sizeof command / sizeof *command, L"\"%ls\" --service", exe);

    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        log_info("[!] OpenSCManager: ошибка %lu (запусти cmd от администратора).\n",
                 GetLastError());
        return 1;
    }
    const UniqueServiceHandle service(
        CreateServiceW(manager.get(), SERVICE_NAME, SERVICE_DISPLAY_NAME, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                       nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS) {
            log_info("[i] Служба уже установлена.\n");
            return 0;
        }
        log_info("[!] CreateService: ошибка %lu\n", error);
        return 1;
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(DESCRIPTION_TEXT)};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    allow_software_sas();
    log_info("[+] Служба установлена. Запускаю...\n");
    StartServiceW(service.get(), 0, nullptr);
    return 0;
}

int uninstall_service()
{
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        log_info("[!] OpenSCManager: ошибка %lu (нужен администратор).\n", GetLastError());
        return 1;
    }
    const UniqueServiceHandle service(
        OpenServiceW(manager.get(), SERVICE_NAME, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        log_info("[!] Служба не найдена (ошибка %lu).\n", GetLastError());
        return 1;
    }
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    wait_until_stopped(service.get());  // at once when it was not running
    if (DeleteService(service.get()))
        log_info("[+] Служба удалена.\n");
    else
        log_info("[!] DeleteService: ошибка %lu\n", GetLastError());
    return 0;
}

bool installed_service_guard()
{
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    if (!UniqueServiceHandle(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_QUERY_STATUS)))
        return false;
    show_message_box(nullptr, GUARD_TEXT, MB_ICONINFORMATION);
    return true;
}
