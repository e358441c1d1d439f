// Installing, guarding and removing the service against Wine's service
// manager, and the agent it keeps in the user's session. Runs in a prefix of
// its own: an installed service would stop every other manual agent.
#include <gtest/gtest.h>

#include "test_support.h"  // windows.h first

#include <tlhelp32.h>

#include <cstring>

#include "app/win_handles.h"
#include "net/message_io.h"
#include "net/tls.h"
#include "service/session_watch.h"

namespace {

constexpr std::uint16_t AGENT_PORT = 55650;

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
    for (int i = 0; i < 200 && (state = service_state()) != wanted; ++i)
        Sleep(100);
    return state;
}

DWORD service_pid()
{
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"OrvaneService", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status{};
        DWORD size = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof status, &size))
            pid = status.dwProcessId;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return pid;
}

// The agent the service started: its process other than `not_this`, or 0.
DWORD agent_pid(DWORD not_this)
{
    const DWORD parent = service_pid();
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); parent && more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != not_this &&
            _wcsicmp(entry.szExeFile, L"orvane.exe") == 0)
            return entry.th32ProcessID;
    }
    return 0;
}

DWORD wait_for_agent(DWORD not_this, DWORD timeout_ms)
{
    DWORD pid = 0;
    for (ULONGLONG end = GetTickCount64() + timeout_ms; !(pid = agent_pid(not_this));) {
        if (GetTickCount64() > end)
            break;
        Sleep(50);
    }
    return pid;
}

// The agent's log once it holds `text` (empty after timeout_ms).
std::string wait_for_log(const TempDir& dir, const std::string& text, DWORD timeout_ms)
{
    for (ULONGLONG end = GetTickCount64() + timeout_ms; GetTickCount64() < end; Sleep(100)) {
        std::string log = read_text_file(dir.file(L"orvane_agent.log"));
        if (log.find(text) != std::string::npos)
            return log;
    }
    return {};
}

// A viewer's log-in over pinned TLS; the agent's answer type, or -1. (Under
// Wine the service's agent streams no picture: its OpenInputDesktop returns
// the service's own desktop, which SetThreadDesktop then refuses.)
int log_in(std::uint16_t port, const char* password)
{
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    DWORD timeout_ms = 10000;  // a silent agent fails the read instead of hanging the test
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return -1;
    ClientTlsFailure failure;
    SslCtxPtr ctx = create_client_tls_context(failure);
    SslPtr ssl = ctx ? connect_tls(s.get(), ctx.get()) : nullptr;
    if (!ssl)
        return -1;
    TlsConnection connection(std::move(s), std::move(ssl));
    Message reply;
    if (!send_msg(connection.ssl.get(), MSG_AUTH, password, std::strlen(password)) ||
        !read_msg(connection.ssl.get(), reply))
        return -1;
    return reply.type;
}

bool notify_event_cleared_by_agent()
{
    UniqueHandle notify(CreateEventW(nullptr, TRUE, FALSE, SESSION_NOTIFY_EVENT));
    SetEvent(notify.get());
    for (int i = 0; i < 200; ++i, Sleep(50)) {
        if (WaitForSingleObject(notify.get(), 0) == WAIT_TIMEOUT)
            return true;
    }
    return false;
}

// Someone is logged on: the session's desktop is up before the service starts
// agents into it. Under Wine the first window made on a desktop brings it up,
// and only a process that knows the X display (this one) brings it up usable.
struct LoggedOnSession : ::testing::Environment {
    HWND window = nullptr;
    void SetUp() override
    {
        window = CreateWindowExW(0, L"STATIC", L"session", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }
};
const auto* const logged_on = ::testing::AddGlobalTestEnvironment(new LoggedOnSession);

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
    // It runs from a folder of its own: the service's agent writes beside its executable.
    TempDir manual_dir;
    install_agent(manual_dir);
    Child manual;
    ASSERT_TRUE(start_orvane(manual, manual_dir, {"55600"}));
    HWND box = wait_for_dialog(manual.pi.dwProcessId, 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dialog_text(box).find("Служба Orvane уже установлена и работает в фоне от имени "
                                    "системы"),
              std::string::npos) << dialog_text(box);
    EXPECT_NE(dialog_text(box).find("ID и пароль — в трее"), std::string::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(manual.wait_exit(20000), 0u);
    EXPECT_FALSE(file_exists(manual_dir.file(L"server.ini"))) << "the agent must not have started";

    // Removing a running service stops it, and its agent with it.
    const DWORD agent = wait_for_agent(0, 30000);
    ASSERT_NE(agent, 0u);
    UniqueHandle agent_process(OpenProcess(SYNCHRONIZE, FALSE, agent));
    RunResult uninstall = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(uninstall.exit_code, 0u);
    EXPECT_EQ(uninstall.out, "[+] Служба удалена.\n");
    // Uninstalling returns once the service has stopped, with its agent gone:
    // an Orvane started by hand right after must not meet it.
    EXPECT_EQ(WaitForSingleObject(agent_process.get(), 0), WAIT_OBJECT_0);
    RunResult gone = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(gone.exit_code, 1u);
    EXPECT_EQ(gone.out, "[!] Служба не найдена (ошибка 1060).\n");
}

// The service keeps one agent in the session: started with --agent, logging
// to its file, answering viewers, watching the notify event, started again
// about a second after it dies, and ended when the service stops.
TEST(Service, KeepsAnAgentRunningInTheSessionUntilStopped)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    TempDir dir;
    install_agent(dir);
    write_file(dir.file(L"server.ini"),
               "[server]\nport=" + std::to_string(AGENT_PORT) + "\npassword=pw\n");
    const std::string listening =
        "Слушаю порт " + std::to_string(AGENT_PORT) + ". Ожидаю зрителя...\n";

    ASSERT_EQ(run_orvane(dir, {"--install"}).exit_code, 0u);
    ASSERT_EQ(wait_for_state(SERVICE_RUNNING), DWORD(SERVICE_RUNNING));
    const DWORD first = wait_for_agent(0, 30000);
    ASSERT_NE(first, 0u);
    std::string log = wait_for_log(dir, listening, 30000);
    EXPECT_EQ(log.rfind("=== Orvane agent start ", 0), 0u) << log;
    EXPECT_NE(log.find("[i] Белый список пуст — пускаю всех.\n"), std::string::npos) << log;
    EXPECT_EQ(log_in(AGENT_PORT, "pw"), MSG_AUTH_OK);
    EXPECT_TRUE(notify_event_cleared_by_agent()) << "the service's agent watches the event";

    UniqueHandle killed(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first));
    ASSERT_TRUE(killed);
    ASSERT_TRUE(TerminateProcess(killed.get(), 9));
    const ULONGLONG killed_at = GetTickCount64();
    ASSERT_EQ(WaitForSingleObject(killed.get(), 5000), WAIT_OBJECT_0);
    // Gone before the next agent starts a second later, so what follows is its own log.
    EXPECT_TRUE(DeleteFileW(dir.file(L"orvane_agent.log").c_str()));
    const DWORD second = wait_for_agent(first, 30000);
    const ULONGLONG restart_ms = GetTickCount64() - killed_at;
    ASSERT_NE(second, 0u);
    std::printf("a killed agent was followed by a new one after %llu ms\n", restart_ms);
    EXPECT_GE(restart_ms, 900u) << "restarted about a second after it died";
    log = wait_for_log(dir, listening, 30000);
    EXPECT_EQ(log.rfind("=== Orvane agent start ", 0), 0u) << log;
    EXPECT_EQ(log_in(AGENT_PORT, "pw"), MSG_AUTH_OK);

    UniqueHandle agent(OpenProcess(SYNCHRONIZE, FALSE, second));
    ASSERT_TRUE(agent);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"OrvaneService", SERVICE_STOP);
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(wait_for_state(SERVICE_STOPPED), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(WaitForSingleObject(agent.get(), 0), WAIT_OBJECT_0) << "stopped means no agent";
    EXPECT_EQ(log_in(AGENT_PORT, "pw"), -1) << "nothing listens any more";

    RunResult uninstall = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(uninstall.exit_code, 0u);
    EXPECT_EQ(uninstall.out, "[+] Служба удалена.\n");
    EXPECT_EQ(wait_for_state(0), 0u) << "the service is gone";
}
