// The service's control handler and supervision loop, and the agent's
// session watcher, in-process: status reports are recorded instead of going
// to the service manager, and the "agents" are copies of this program that
// only wait to be ended.
#include <gtest/gtest.h>

#include <windows.h>
#include <wtsapi32.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "service/service_host.h"
#include "service/session_watch.h"
#include "test_support.h"
#include "ui/ui_state.h"

namespace {

constexpr char LINGER_ARG[] = "--linger";
constexpr char SET_NOTIFY_ARG[] = "--set-notify";

bool is_set(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

bool has_ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// Starts this program again with one argument; its process handle.
UniqueHandle start_self(const char* arg)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" " + wide(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return {};
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

template <typename Done>
bool wait_until(Done done, DWORD timeout_ms)
{
    for (ULONGLONG end = GetTickCount64() + timeout_ms; !done(); Sleep(20)) {
        if (GetTickCount64() > end)
            return false;
    }
    return true;
}

// What the service manager would have been told, in order.
struct StatusLog {
    std::mutex lock;
    std::vector<SERVICE_STATUS> seen;

    void attach(ServiceHost& host)
    {
        host.publish = [this](const SERVICE_STATUS& status) {
            std::lock_guard guard(lock);
            seen.push_back(status);
        };
    }
    std::vector<SERVICE_STATUS> all()
    {
        std::lock_guard guard(lock);
        return seen;
    }
};

void expect_status(const SERVICE_STATUS& s, DWORD state, DWORD accepted, DWORD checkpoint,
                   DWORD wait_hint)
{
    EXPECT_EQ(s.dwServiceType, DWORD(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(s.dwCurrentState, state);
    EXPECT_EQ(s.dwControlsAccepted, accepted) << "state " << state;
    EXPECT_EQ(s.dwWin32ExitCode, 0u) << "state " << state;
    EXPECT_EQ(s.dwCheckPoint, checkpoint) << "state " << state;
    EXPECT_EQ(s.dwWaitHint, wait_hint) << "state " << state;
}

// Stands in for the session launcher: each launch starts a lingering copy of
// this program, unless told to find no session first.
struct FakeLauncher {
    std::mutex lock;
    std::vector<UniqueHandle> agents;  // our own handles, for watching them
    std::vector<ULONGLONG> launch_ticks;
    int sessionless_tries = 0;  // launches that find no session
    bool unwaitable = false;    // hand out handles that only allow ending
    bool earlier_alive_at_launch = false;

    void attach(ServiceHost& host)
    {
        host.launch_agent = [this] { return launch(); };
    }
    UniqueHandle launch()
    {
        std::lock_guard guard(lock);
        launch_ticks.push_back(GetTickCount64());
        if (sessionless_tries > 0) {
            --sessionless_tries;
            return {};
        }
        for (const UniqueHandle& earlier : agents)
            earlier_alive_at_launch |= !has_ended(earlier.get());
        UniqueHandle agent = start_self(LINGER_ARG);
        HANDLE given = nullptr;
        DuplicateHandle(GetCurrentProcess(), agent.get(), GetCurrentProcess(), &given,
                        unwaitable ? PROCESS_TERMINATE : PROCESS_ALL_ACCESS, FALSE, 0);
        agents.push_back(std::move(agent));
        return UniqueHandle(given);
    }
    std::size_t launches()
    {
        std::lock_guard guard(lock);
        return launch_ticks.size();
    }
    HANDLE agent(std::size_t i)
    {
        std::lock_guard guard(lock);
        return i < agents.size() ? agents[i].get() : nullptr;
    }
    ~FakeLauncher()
    {
        for (UniqueHandle& agent : agents)
            TerminateProcess(agent.get(), 0);
    }
};

// run_service on a thread of its own, as the service manager would call it.
UniqueHandle start_service_thread(ServiceHost& host)
{
    auto body = [](void* context) -> DWORD {
        run_service(*static_cast<ServiceHost*>(context));
        return 0;
    };
    return UniqueHandle(CreateThread(nullptr, 0, body, &host, 0, nullptr));
}

ULONGLONG thread_cpu_ms(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(thread, &created, &exited, &kernel, &user);
    auto ticks = [](FILETIME t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}

} // namespace

TEST(ServiceControl, EachControlAnswersReportsAndSignals)
{
    enum Signal { NOTHING, STOP, SESSION, NOTIFY };
    struct Case {
        const char* what;
        DWORD control;
        DWORD event_type;
        DWORD result;
        Signal signal;
    };
    const Case cases[] = {
        {"stop", SERVICE_CONTROL_STOP, 0, NO_ERROR, STOP},
        {"interrogate", SERVICE_CONTROL_INTERROGATE, 0, NO_ERROR, NOTHING},
        {"console connect", SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_CONNECT, NO_ERROR, SESSION},
        {"console disconnect", SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_DISCONNECT, NO_ERROR,
         SESSION},
        {"remote connect", SERVICE_CONTROL_SESSIONCHANGE, WTS_REMOTE_CONNECT, NO_ERROR, SESSION},
        {"remote disconnect", SERVICE_CONTROL_SESSIONCHANGE, WTS_REMOTE_DISCONNECT, NO_ERROR,
         SESSION},
        {"log-on", SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, NO_ERROR, NOTIFY},
        {"log-off", SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, NO_ERROR, NOTIFY},
        {"lock", SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOCK, NO_ERROR, NOTHING},
        {"unlock", SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, NO_ERROR, NOTHING},
        {"remote control", SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_REMOTE_CONTROL, NO_ERROR,
         NOTHING},
        {"pause", SERVICE_CONTROL_PAUSE, 0, ERROR_CALL_NOT_IMPLEMENTED, NOTHING},
        {"shutdown", SERVICE_CONTROL_SHUTDOWN, 0, ERROR_CALL_NOT_IMPLEMENTED, NOTHING},
        {"user-defined", 200, 0, ERROR_CALL_NOT_IMPLEMENTED, NOTHING},
    };
    // The running agent holds the notify event open, as its watcher does.
    UniqueHandle notify(CreateEventW(nullptr, TRUE, FALSE, SESSION_NOTIFY_EVENT));
    ASSERT_TRUE(notify);
    ServiceHost host;
    StatusLog log;
    log.attach(host);
    host.stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    host.session_event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t reports_before = log.all().size();
        EXPECT_EQ(service_control_handler(c.control, c.event_type, nullptr, &host), c.result);
        std::vector<SERVICE_STATUS> reports = log.all();
        EXPECT_EQ(reports.size() - reports_before, c.signal == STOP ? 1u : 0u);
        if (c.signal == STOP && reports.size() > reports_before)
            expect_status(reports.back(), SERVICE_STOP_PENDING, 0x81, 1, 3000);
        EXPECT_EQ(is_set(host.stop_event.get()), c.signal == STOP);
        EXPECT_EQ(is_set(host.session_event.get()), c.signal == SESSION);
        EXPECT_EQ(is_set(notify.get()), c.signal == NOTIFY);
        ResetEvent(host.stop_event.get());
        ResetEvent(host.session_event.get());
        ResetEvent(notify.get());
    }
}

// No session at first, then an agent; a session change replaces it; stop ends it.
TEST(ServiceLoop, RetriesMovesToTheNewSessionAndEndsTheAgentOnStop)
{
    ServiceHost host;
    StatusLog log;
    FakeLauncher launcher;
    launcher.attach(host);
    launcher.sessionless_tries = 1;
    bool agents_ended_when_stopped = false;
    host.publish = [&](const SERVICE_STATUS& status) {
        if (status.dwCurrentState == SERVICE_STOPPED)
            agents_ended_when_stopped =
                has_ended(launcher.agent(0)) && has_ended(launcher.agent(1));
        std::lock_guard guard(log.lock);
        log.seen.push_back(status);
    };
    UniqueHandle service = start_service_thread(host);
    ASSERT_TRUE(service);

    ASSERT_TRUE(wait_until([&] { return launcher.agent(0) != nullptr; }, 20000));
    EXPECT_GE(launcher.launch_ticks[1] - launcher.launch_ticks[0], 2900u)
        << "a launch that found no session is retried after 3 s";
    std::vector<SERVICE_STATUS> reports = log.all();
    ASSERT_EQ(reports.size(), 2u);
    expect_status(reports[0], SERVICE_START_PENDING, 0, 1, 3000);
    expect_status(reports[1], SERVICE_RUNNING, 0x81, 0, 0);

    EXPECT_EQ(
        service_control_handler(SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_CONNECT, nullptr, &host),
        DWORD(NO_ERROR));
    ASSERT_TRUE(wait_until([&] { return launcher.agent(1) != nullptr; }, 20000));
    EXPECT_TRUE(has_ended(launcher.agent(0)));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(launcher.agent(0), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(launcher.earlier_alive_at_launch) << "the old agent must be gone first";
    EXPECT_FALSE(has_ended(launcher.agent(1)));

    EXPECT_EQ(service_control_handler(SERVICE_CONTROL_STOP, 0, nullptr, &host), DWORD(NO_ERROR));
    ASSERT_EQ(WaitForSingleObject(service.get(), 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(agents_ended_when_stopped);
    EXPECT_EQ(launcher.launches(), 3u);
    reports = log.all();
    ASSERT_EQ(reports.size(), 4u);
    expect_status(reports[2], SERVICE_STOP_PENDING, 0x81, 2, 3000);
    expect_status(reports[3], SERVICE_STOPPED, 0x81, 0, 0);
}

// An agent handle that cannot be waited on makes every wait fail: the loop
// must neither spin nor take the agent for gone, and must still stop.
TEST(ServiceLoop, AFailingWaitPausesInsteadOfSpinning)
{
    ServiceHost host;
    StatusLog log;
    FakeLauncher launcher;
    log.attach(host);
    launcher.attach(host);
    launcher.unwaitable = true;
    UniqueHandle service = start_service_thread(host);
    ASSERT_TRUE(service);
    ASSERT_TRUE(wait_until([&] { return launcher.agent(0) != nullptr; }, 20000));

    const ULONGLONG cpu_before = thread_cpu_ms(service.get());
    Sleep(3000);
    const ULONGLONG cpu_used = thread_cpu_ms(service.get()) - cpu_before;
    std::printf("service thread: %llu ms of processor time in 3 s of failing waits\n", cpu_used);
    // Spinning costs this thread most of a core here (the rest goes to the
    // wineserver); pausing costs next to nothing.
    EXPECT_LT(cpu_used, 100u);
    EXPECT_EQ(launcher.launches(), 1u);
    EXPECT_FALSE(has_ended(launcher.agent(0)));

    service_control_handler(SERVICE_CONTROL_STOP, 0, nullptr, &host);
    ASSERT_EQ(WaitForSingleObject(service.get(), 20000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(launcher.agent(0), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(log.all().back().dwCurrentState, DWORD(SERVICE_STOPPED));
}

// Another process sets the notify event: the watcher clears it and asks the
// tray window to rebuild; without a tray window it only clears it.
TEST(SessionWatch, ASignalIsClearedAndPostedToTheTrayWindow)
{
    WNDCLASSW tray_class{};
    tray_class.lpfnWndProc = DefWindowProcW;
    tray_class.hInstance = GetModuleHandleW(nullptr);
    tray_class.lpszClassName = L"OrvaneTray";
    RegisterClassW(&tray_class);
    HWND tray = CreateWindowExW(WS_EX_TOOLWINDOW, L"OrvaneTray", L"Orvane tray", WS_POPUP, 0, 0, 0,
                                0, nullptr, nullptr, tray_class.hInstance, nullptr);
    ASSERT_NE(tray, nullptr);
    // Held like the service's handle would be, so the event outlives each setter.
    UniqueHandle notify(CreateEventW(nullptr, TRUE, FALSE, SESSION_NOTIFY_EVENT));
    ASSERT_TRUE(notify);
    UniqueHandle watcher(CreateThread(nullptr, 0, watch_session_notify, nullptr, 0, nullptr));
    ASSERT_TRUE(watcher);

    for (bool with_tray : {true, false, true}) {
        SCOPED_TRACE(with_tray ? "tray window" : "no tray window");
        ui.tray_window = with_tray ? tray : nullptr;
        UniqueHandle setter = start_self(SET_NOTIFY_ARG);
        ASSERT_TRUE(setter);
        ASSERT_EQ(WaitForSingleObject(setter.get(), 20000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(setter.get(), &code);
        ASSERT_EQ(code, 0u) << "the other process could not set the event";
        EXPECT_TRUE(wait_until([&] { return !is_set(notify.get()); }, 10000));
        MSG msg;
        bool rebuild = wait_until(
            [&] { return PeekMessageW(&msg, tray, WM_REBUILD_UI, WM_REBUILD_UI, PM_REMOVE) != 0; },
            with_tray ? 10000 : 500);
        EXPECT_EQ(rebuild, with_tray);
    }
    EXPECT_EQ(WaitForSingleObject(watcher.get(), 0), DWORD(WAIT_TIMEOUT)) << "it keeps watching";
    ui.tray_window = nullptr;
    DestroyWindow(tray);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], LINGER_ARG) == 0) {
        Sleep(INFINITE);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], SET_NOTIFY_ARG) == 0) {
        UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, SESSION_NOTIFY_EVENT));
        return event && SetEvent(event.get()) ? 0 : 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
