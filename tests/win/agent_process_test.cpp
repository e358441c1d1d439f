// The real orvane.exe under Wine: command-line dispatch, start-up with
// server.ini, the single-instance guard.
#include <gtest/gtest.h>

#include "app/agent_config_win.h"
#include "app/agent_main.h"
#include "credentials/password_alphabet.h"
#include "credentials/protected_storage.h"
#include "default_relay.h"
#include "test_support.h"
#include "ui/tray_view.h"
#include "ui/ui_state.h"

namespace {

constexpr DWORD START_TIMEOUT = 20000;
const std::string RELAY_PORT = std::to_string(ORVANE_DEFAULT_RELAY_PORT);
const char DIRECT_INI[] = "[server]\nport=55531\npassword=secret\n";

std::string ini_value(const std::string& ini, const std::string& key)
{
    auto at = ini.find("\n" + key + "=");
    if (at == std::string::npos)
        return "<missing>";
    at += key.size() + 2;
    auto end = ini.find_first_of("\r\n", at);
    return ini.substr(at, end - at);
}

} // namespace

TEST(CommandLine, ServiceAndUninstallModesReportAndFail)
{
    TempDir dir;
    install_agent(dir);
    RunResult service = run_orvane(dir, {"--service"});
    EXPECT_EQ(service.exit_code, 1u);
    EXPECT_EQ(service.out.rfind("[!] StartServiceCtrlDispatcher: ошибка ", 0), 0u) << service.out;
    EXPECT_NE(service.out.find("\n    (режим --service запускает система, не запускай его руками)\n"),
              std::string::npos) << service.out;

    RunResult uninstall = run_orvane(dir, {"--uninstall"});
    EXPECT_EQ(uninstall.exit_code, 1u);
    EXPECT_EQ(uninstall.out, "[!] Служба не найдена (ошибка 1060).\n");
}

// Arguments that are not modes reach the agent, whose first argument is the port.
TEST(CommandLine, AgentArgumentsSelectLogAndPort)
{
    struct Case {
        std::vector<std::string> args;
        bool logs_to_file;
        const char* listening;
    };
    const Case cases[] = {
        {{"--agent", "55600"}, true, "Слушаю порт 55600. Ожидаю зрителя...\n"},
        {{"55600"}, false, "Слушаю порт 55600. Ожидаю зрителя...\n"},
        {{"70000"}, false, "Слушаю порт 4464. Ожидаю зрителя...\n"},
        {{"--Agent"}, false, "Слушаю порт 0. Ожидаю зрителя...\n"},
        {{"--agent=1", "55600"}, false, "Слушаю порт 0. Ожидаю зрителя...\n"},
        {{}, false, "Слушаю порт 55531. Ожидаю зрителя...\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        TempDir dir;
        install_agent(dir);
        write_file(dir.file(L"server.ini"), DIRECT_INI);
        Child agent;
        ASSERT_TRUE(start_orvane(agent, dir, c.args));
        const std::wstring log = dir.file(L"orvane_agent.log");
        if (c.logs_to_file) {
            for (int i = 0; i < 200 && read_text_file(log).find(c.listening) == std::string::npos; ++i)
                Sleep(50);
            std::string text = read_text_file(log);
            EXPECT_EQ(text.rfind("=== Orvane agent start ", 0), 0u) << text;
            EXPECT_NE(text.find(c.listening), std::string::npos) << text;
            EXPECT_EQ(agent.output(), "");
        } else {
            EXPECT_TRUE(agent.wait_for_output(c.listening, START_TIMEOUT)) << agent.output();
            EXPECT_FALSE(file_exists(log));
        }
        agent.kill();
    }
}

const char TEMPLATE_COMMENTS[] =
    "; Настройки Orvane\n"
    "; port — порт прослушивания (должен совпадать с клиентом)\n"
    "; allow — белый список IP через запятую (пусто = пускать всех)\n"
    ";   пример: allow=192.168.1.10, 192.168.1.20\n"
    "; password — пароль простым текстом, только для ручной установки: при следующем запуске "
    "программа сама зашифрует его в password_enc и очистит это поле.\n"
    "; password_enc — пароль, зашифрованный DPAPI (не редактируй вручную).\n"
    "; relay_host/relay_port/relay_id — режим релея (без проброса портов).\n"
    ";   если relay_host задан — агент не слушает порт, а сам идёт на релей.\n"
    ";   relay_id — латиница/цифры, по нему клиент находит эту машину.\n";

TEST(AgentStartup, TemplateBytesAreInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1251u) << "the tests expect the Russian ANSI code page";
    TempDir dir;
    const std::wstring path = dir.file(L"server.ini");
    ASSERT_TRUE(write_server_ini_template(utf8(path)));
    EXPECT_EQ(read_file(path),
              to_cp1251(TEMPLATE_COMMENTS) +
                  "[server]\nport=55500\nallow=\npassword=\npassword_enc=\nrelay_host=" +
                  ORVANE_DEFAULT_RELAY + "\nrelay_port=" + RELAY_PORT +
                  "\nrelay_id=\naccept_connections=1\n");
    EXPECT_FALSE(write_server_ini_template(utf8(dir.file(L"no such folder\\server.ini"))));
}

TEST(AgentStartup, MissingIniGetsTemplateAndRelayMode)
{
    TempDir dir;
    install_agent(dir);
    Child agent;
    ASSERT_TRUE(start_orvane(agent, dir, {}));
    ASSERT_TRUE(agent.wait_for_output("Жду клиента через релей", START_TIMEOUT)) << agent.output();
    agent.kill();
    const std::string relay = ORVANE_DEFAULT_RELAY;
    EXPECT_NE(agent.output().find("[i] Режим релея: " + relay + ":" + RELAY_PORT +
                                  " id=(выдаст релей, закрепится после первого подключения)\n"
                                  "=== Orvane (релей) ===\nЖду клиента через релей " + relay + " id=\n"),
              std::string::npos) << agent.output();

    // The file is the template, with the generated password stored protected.
    std::string ini = read_text_file(dir.file(L"server.ini"));
    EXPECT_EQ(ini.rfind(to_cp1251("; Настройки Orvane\n"), 0), 0u);
    for (const char* line : {"[server]\n", "\nport=55500\n", "\nallow=\n", "\npassword=\n",
                             "\nrelay_id=\n", "\naccept_connections=1\n"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;
    EXPECT_NE(ini.find("\nrelay_port=" + RELAY_PORT + "\n"), std::string::npos);
    EXPECT_NE(ini.find("\nrelay_host=" + relay + "\n"), std::string::npos);
    std::string password = unprotect_secret(ini_value(ini, "password_enc"));
    EXPECT_EQ(password.size(), GENERATED_PASSWORD_LENGTH);
    EXPECT_EQ(password.find_first_not_of(PASSWORD_ALPHABET), std::string::npos);
}

TEST(AgentStartup, PasswordKeysAreSettled)
{
    struct Case {
        const char* name;
        std::string ini;
        bool file_unchanged;
        std::string expected_password;  // empty: a generated one
    };
    const Case cases[] = {
        {"plain moves into password_enc", "[server]\nport=55532\npassword=Plain Pass\npassword_enc=\n",
         false, "Plain Pass"},
        {"both empty generate one", "[server]\nport=55532\npassword=\npassword_enc=\n", false, ""},
        {"undecodable password_enc left alone",
         "[server]\nport=55532\npassword=\npassword_enc=@@not base64@@\n", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        install_agent(dir);
        write_file(dir.file(L"server.ini"), c.ini);
        Child agent;
        ASSERT_TRUE(start_orvane(agent, dir, {}));
        ASSERT_TRUE(agent.wait_for_output("Слушаю порт 55532", START_TIMEOUT)) << agent.output();
        agent.kill();
        EXPECT_NE(agent.output().find(
                      "[i] Пароль задан (хранится зашифрованным), авто-бан после 5 неудач.\n"),
                  std::string::npos);
        std::string ini = read_text_file(dir.file(L"server.ini"));
        if (c.file_unchanged) {
            EXPECT_EQ(ini, c.ini);
            continue;
        }
        EXPECT_EQ(ini_value(ini, "password"), "");
        std::string password = unprotect_secret(ini_value(ini, "password_enc"));
        if (!c.expected_password.empty())
            EXPECT_EQ(password, c.expected_password);
        else
            EXPECT_EQ(password.size(), GENERATED_PASSWORD_LENGTH);
    }
}

TEST(AgentStartup, EmptyRelayHostListensAndAllowListIsPrinted)
{
    TempDir dir;
    install_agent(dir);
    write_file(dir.file(L"server.ini"),
               "[server]\nport=55533\nrelay_host=\nallow=10.1.1.1, 10.1.1.2\npassword=x\n");
    Child agent;
    ASSERT_TRUE(start_orvane(agent, dir, {}));
    EXPECT_TRUE(agent.wait_for_output("=== Orvane ===\nСлушаю порт 55533. Ожидаю зрителя...\n",
                                      START_TIMEOUT)) << agent.output();
    EXPECT_NE(agent.output().find("[i] Белый список: 10.1.1.1, 10.1.1.2\n"), std::string::npos);
    EXPECT_EQ(agent.output().find("Режим релея"), std::string::npos);
}

TEST(AgentStartup, PortInUseFailsWithBindError)
{
    TempDir first_dir;
    install_agent(first_dir);
    write_file(first_dir.file(L"server.ini"), "[server]\nport=55534\npassword=x\n");
    // A plain socket holds the port so that the agent's own mutex is not involved.
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(55534);
    BOOL exclusive = TRUE;
    setsockopt(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    RunResult result = run_orvane(first_dir, {});
    closesocket(holder);
    WSACleanup();
    EXPECT_EQ(result.exit_code, 1u) << result.out;
    EXPECT_NE(result.out.find("bind() failed: "), std::string::npos) << result.out;
}

TEST(AgentStartup, SecondAgentIsTurnedAway)
{
    TempDir first_dir, second_dir;
    for (const TempDir* dir : {&first_dir, &second_dir}) {
        install_agent(*dir);
        write_file(dir->file(L"server.ini"), "[server]\nport=55535\npassword=x\n");
    }
    Child first;
    ASSERT_TRUE(start_orvane(first, first_dir, {}));
    ASSERT_TRUE(first.wait_for_output("Слушаю порт 55535", START_TIMEOUT)) << first.output();

    Child second;
    ASSERT_TRUE(start_orvane(second, second_dir, {}));
    HWND box = wait_for_dialog(second.pi.dwProcessId, START_TIMEOUT);
    ASSERT_NE(box, nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(box, title, 64);
    EXPECT_EQ(utf8(title), "Orvane");
    EXPECT_NE(dialog_text(box).find("Orvane уже запущен на этом компьютере — повторный экземпляр "
                                    "не нужен (общий порт/ID на релее, два агента будут мешать "
                                    "друг другу)."),
              std::string::npos) << dialog_text(box);
    EXPECT_EQ(second.wait_exit(300), STILL_ACTIVE) << "must wait in the box";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(second.wait_exit(START_TIMEOUT), 0u);
    EXPECT_EQ(second.output(), "");

    // Started by the service: no box, no log, exit 0.
    RunResult silent = run_orvane(second_dir, {"--agent"}, START_TIMEOUT);
    EXPECT_EQ(silent.exit_code, 0u);
    EXPECT_FALSE(file_exists(second_dir.file(L"orvane_agent.log")));
}

namespace {

// Whether an agent's direct listener has been served by its accept thread:
// bytes that are not TLS get the connection closed, with a reset when the
// handshake left some of them unread.
bool accept_thread_serves(std::uint16_t port, DWORD timeout_ms)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DWORD timeout = timeout_ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char reply = 0;
    const bool closed = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                        send(s, "hello\r\n", 7, 0) == 7 &&
                        (recv(s, &reply, 1, 0) == 0 || WSAGetLastError() == WSAECONNRESET);
    closesocket(s);
    return closed;
}

} // namespace

namespace {

// The top-level window of `class_name` that process `pid` owns; null if none.
HWND window_of(DWORD pid, const wchar_t* class_name)
{
    for (HWND w = FindWindowExW(nullptr, nullptr, class_name, nullptr); w;
         w = FindWindowExW(nullptr, w, class_name, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid)
            return w;
    }
    return nullptr;
}

} // namespace

// Double-clicked, the agent has a console of its own, which held its password:
// start-up hides it behind the tray, whose menu brings it back.
TEST(AgentStartup, ADoubleClickedAgentHidesItsConsoleBehindTheTray)
{
    TempDir dir;
    install_agent(dir);
    write_file(dir.file(L"server.ini"), "[server]\nport=55536\npassword=x\n");
    std::wstring command = L"\"" + dir.file(L"orvane.exe") + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                               nullptr, dir.path.c_str(), &si, &pi));
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        served = accept_thread_serves(55536, 5000);
        if (!served)
            Sleep(200);
    }
    WSACleanup();
    // Start-up has passed the point where it hides the console.
    EXPECT_TRUE(served);
    FreeConsole();
    ASSERT_TRUE(AttachConsole(pi.dwProcessId)) << GetLastError();
    HWND console = GetConsoleWindow();
    const bool hidden = console && !IsWindowVisible(console);
    const HWND tray = window_of(pi.dwProcessId, L"OrvaneTray");
    if (tray)
        SendMessageW(tray, WM_COMMAND, TRAY_CONSOLE, 0);
    const bool shown_again = console && IsWindowVisible(console);
    FreeConsole();
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_NE(console, nullptr);
    EXPECT_NE(tray, nullptr);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(shown_again);
}

// Without a tray window nothing could show a hidden console again: it stays.
TEST(AgentStartup, OwnConsoleIsHiddenOnlyWhenATrayWindowExists)
{
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    HWND console = GetConsoleWindow();
    ASSERT_NE(console, nullptr);
    ShowWindow(console, SW_SHOW);
    ui.tray_window = nullptr;
    hide_own_console();
    EXPECT_TRUE(IsWindowVisible(console));
    HWND tray = CreateWindowExW(0, L"STATIC", L"tray", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(tray, nullptr);
    ui.tray_window = tray;
    hide_own_console();
    EXPECT_FALSE(IsWindowVisible(console));
    ui.tray_window = nullptr;
    DestroyWindow(tray);
    FreeConsole();
}
