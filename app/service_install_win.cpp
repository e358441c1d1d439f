#include "app/service_install.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

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
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD one = 1;
    RegSetValueExW(key, L"SoftwareSASGeneration", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    std::printf("[+] SoftwareSASGeneration=1 (Ctrl+Alt+Del от службы разрешён).\n");
}

} // namespace

int install_service()
{
    wchar_t exe[MAX_PATH];
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0)
        return 1;
    wchar_t command[MAX_PATH + 32];
    std::swprintf(command, sizeof command / sizeof *command, L"\"%ls\" --service", exe);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        std::printf("[!] OpenSCManager: ошибка %lu (запусти cmd от администратора).\n",
                    GetLastError());
        return 1;
    }
    SC_HANDLE service = CreateServiceW(manager, SERVICE_NAME, SERVICE_DISPLAY_NAME,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!service) {
        DWORD error = GetLastError();
        CloseServiceHandle(manager);
        if (error == ERROR_SERVICE_EXISTS) {
            std::printf("[i] Служба уже установлена.\n");
            return 0;
        }
        std::printf("[!] CreateService: ошибка %lu\n", error);
        return 1;
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(DESCRIPTION_TEXT)};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    allow_software_sas();
    std::printf("[+] Служба установлена. Запускаю...\n");
    StartServiceW(service, 0, nullptr);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

int uninstall_service()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        std::printf("[!] OpenSCManager: ошибка %lu (нужен администратор).\n", GetLastError());
        return 1;
    }
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, DELETE | SERVICE_STOP);
    if (!service) {
        std::printf("[!] Служба не найдена (ошибка %lu).\n", GetLastError());
        CloseServiceHandle(manager);
        return 1;
    }
    SERVICE_STATUS status{};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (DeleteService(service))
        std::printf("[+] Служба удалена.\n");
    else
        std::printf("[!] DeleteService: ошибка %lu\n", GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

bool installed_service_guard()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, SERVICE_NAME, SERVICE_QUERY_STATUS);
    if (!service) {
        CloseServiceHandle(manager);
        return false;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    show_message_box(nullptr, GUARD_TEXT, MB_ICONINFORMATION);
    return true;
}
