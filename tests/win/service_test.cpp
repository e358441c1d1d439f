// Installing, guarding and removing the service against Wine's service
// manager. Runs in a prefix of its own: an installed service would stop every
// other manual agent.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

DWORD service_state()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    DWORD state = 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"OrvaneService", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

DWORD wait_for_state(DWORD wanted)
{
    DWORD state = 0;
    for (int i = 0; i < 100 && (state = service_state()) != wanted; ++i)
        Sleep(100);
    return state;
}

} // namespace

TEST(Service, InstallGuardUninstall)
{
    TempDir dir;
    install_agent(dir);

    RunResult install = run_orvane(dir, {"--install"});
    EXPECT_EQ(install.exit_code, 0u);
    EXPECT_EQ(install.out, "[+] SoftwareSASGeneration=1 (Ctrl+Alt+Del от службы разрешён).\n"
                           "[+] Служба установлена. Запускаю...\n");
    DWORD sas = 0, size = sizeof sas;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                           L"SoftwareSASGeneration", RRF_RT_REG_DWORD, nullptr, &sas, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(sas, 1u);
    // The manager started "orvane.exe --service" and it reached the dispatcher.
    EXPECT_EQ(wait_for_state(SERVICE_RUNNING), DWORD(SERVICE_RUNNING));

    RunResult again = run_orvane(dir, {"--install"});
    EXPECT_EQ(again.exit_code, 0u);
    EXPECT_EQ(again.out, "[i] Служба уже установлена.\n");

    // A manual start is turned away with a message box, whatever the arguments.
    Child manual;
    ASSERT_TRUE(start_orvane(manual, dir, {"55600"}));
    HWND box = wait_for_dialog(manual.pi.dwProcessId, 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dialog_text(box).find("Служба Orvane уже установлена и работает в фоне от имени "
                                    "системы"),
              std::string::npos) << dialog_text(box);
    EXPECT_NE(dialog_text(box).find("ID и пароль — в трее"), std::string::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(manual.wait_exit(20000), 0u);
    EXPECT_FALSE(file_exists(dir.file(L"server.ini"))) << "the agent must not have started";

    RunResult uninstall = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(uninstall.exit_code, 0u);
    EXPECT_EQ(uninstall.out, "[+] Служба удалена.\n");
    RunResult gone = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(gone.exit_code, 1u);
    EXPECT_EQ(gone.out, "[!] Служба не найдена (ошибка 1060).\n");
}
