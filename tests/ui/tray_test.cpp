// The tray icon, its menu and commands, and the banner, in-process on a Wine
// prefix and display of their own: Wine's shell shows the icons in its
// "Wine System Tray" window, where the tooltip is read by hovering the icon,
// and the menu is read from the real popup while it is open.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/agent_state.h"
#include "app/win_handles.h"
#include "credentials/protected_storage.h"
#include "service/session_watch.h"
#include "tests/win/test_support.h"
#include "ui/tray.h"
#include "ui/tray_view.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

constexpr char INSTALL_ARG[] = "--install";
// The exit code our stand-in for an elevated "--install" gives, and the file
// it leaves to show that it ran.
constexpr wchar_t INSTALL_EXIT_VARIABLE[] = L"TRAY_TEST_INSTALL_EXIT";
constexpr wchar_t INSTALL_MARK_VARIABLE[] = L"TRAY_TEST_INSTALL_MARK";

void pump(DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (GetTickCount() < end);
}

template <typename Condition>
bool pump_until(Condition condition, DWORD timeout_ms = 10000)
{
    const DWORD end = GetTickCount() + timeout_ms;
    while (!condition()) {
        if (GetTickCount() > end)
            return false;
        pump(20);
    }
    return true;
}

std::wstring text_of(HWND window)
{
    wchar_t text[512] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 512, LPARAM(text), SMTO_ABORTIFHUNG, 3000, nullptr);
    return text;
}

// --- Wine's stand-alone tray, in the shell's process ---------------------------

HWND shell_tray() { return FindWindowW(L"__winex11_standalone_tray", nullptr); }

std::vector<HWND> tray_icons()
{
    std::vector<HWND> icons;
    for (HWND icon = FindWindowExW(shell_tray(), nullptr, L"__winex11_tray_icon", nullptr); icon;
         icon = FindWindowExW(shell_tray(), icon, L"__winex11_tray_icon", nullptr))
        icons.push_back(icon);
    return icons;
}

BOOL CALLBACK find_shown_tooltip(HWND window, LPARAM param)
{
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (std::wcscmp(cls, TOOLTIPS_CLASSW) == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

HWND shown_tooltip()
{
    HWND found = nullptr;
    EnumWindows(find_shown_tooltip, LPARAM(&found));
    return found;
}

// The tooltip the shell shows over our icon, as a user pointing at it sees it.
std::wstring hover_tooltip()
{
    SetCursorPos(900, 700);
    pump_until([] { return !shown_tooltip(); }, 5000);
    const std::vector<HWND> icons = tray_icons();
    if (icons.size() != 1)
        return L"<" + std::to_wstring(icons.size()) + L" icons>";
    RECT r;
    GetWindowRect(icons[0], &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    std::wstring tip;
    pump_until(
        [&] {
            HWND shown = shown_tooltip();
            tip = shown ? text_of(shown) : L"";
            return !tip.empty();
        },
        8000);
    SetCursorPos(900, 700);
    return tip;
}

// --- the menu, read while it is open -------------------------------------------

// One row per item: "-" for a separator, else the command, "*" for the default
// item, "~" greyed, "v" checked. The texts go to `texts`, by command.
std::string describe(HMENU menu, std::vector<std::pair<int, std::wstring>>& texts)
{
    std::string rows;
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 256;
        GetMenuItemInfoW(menu, UINT(i), TRUE, &item);
        if (!rows.empty())
            rows += " ";
        if (item.fType & MFT_SEPARATOR) {
            rows += "-";
            continue;
        }
        rows += std::to_string(item.wID);
        if (item.fState & MFS_DEFAULT)
            rows += "*";
        if (item.fState & MFS_GRAYED)
            rows += "~";
        if (item.fState & MFS_CHECKED)
            rows += "v";
        texts.emplace_back(int(item.wID), text);
    }
    return rows;
}

// Right-clicks the icon (its notification, as the shell sends it) and reads the
// menu the tray window pops up, then closes it.
std::string open_menu(std::vector<std::pair<int, std::wstring>>& texts)
{
    std::string rows = "<no menu>";
    std::thread reader([&] {
        HWND popup = nullptr;
        if (!wait_until(
                [&] {
                    popup = FindWindowW(L"#32768", nullptr);
                    return popup && IsWindowVisible(popup);
                },
                10000))
            return;
        rows = describe(HMENU(SendMessageW(popup, MN_GETHMENU, 0, 0)), texts);
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    SendMessageW(ui.tray_window, WM_TRAY_NOTIFY, 1, WM_RBUTTONUP);
    reader.join();
    return rows;
}

std::string open_menu()
{
    std::vector<std::pair<int, std::wstring>> texts;
    return open_menu(texts);
}

// --- fixture ------------------------------------------------------------------

void set_clipboard(const std::wstring& text)
{
    OpenClipboard(nullptr);
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

// Reads the next message box of this process into `text` and presses OK.
std::thread answer_next_box(std::string& text)
{
    return std::thread([&text] {
        if (HWND box = wait_for_dialog(GetCurrentProcessId(), 30000)) {
            text = dialog_text(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
}

std::string ini_value(const std::string& path, const char* key)
{
    char value[600] = {};
    GetPrivateProfileStringA("server", key, "<missing>", value, sizeof value, path.c_str());
    return value;
}

// The agent's state as a fresh relay-mode agent has it, with a tray of its own.
class Tray : public ::testing::Test {
protected:
    void SetUp() override
    {
        ini_path = utf8(dir.file(L"server.ini"));
        write_file(dir.file(L"server.ini"), "[server]\nrelay_id=555000111\npassword=\n");
        agent.config.ini_path = ini_path;
        agent.config.relay_host = "127.0.0.1";
        agent.config.relay_id.set("555000111");
        agent.config.accept_connections = true;
        agent.config.current_password.set("abc123");
        agent.launched_by_service = false;
        agent.viewer_connected = false;
        agent.viewer_name.set(L"");
        agent.relay_assigned_id.set("");
        agent.banner_caption.set(L"");
        ui.main_window = main.hwnd;
        create_tray(GetModuleHandleW(nullptr));
        ASSERT_NE(ui.tray_window, nullptr);
        ASSERT_TRUE(pump_until([] { return tray_icons().size() == 1; }));
    }

    void TearDown() override
    {
        ui.rebuilding = true;  // no quit message into the next test
        if (HWND tray = ui.tray_window)
            DestroyWindow(tray);
        if (HWND banner = ui.banner_window)
            DestroyWindow(banner);
        if (ui.main_window && ui.main_window != main.hwnd)
            DestroyWindow(ui.main_window);  // a real one, from a rebuild
        ui.rebuilding = false;
        ui.main_window = nullptr;
        pump(50);
    }

    TempDir dir;
    std::string ini_path;
    TestParent main;  // stands in for the main window
};

} // namespace

// One table over the state: what the tooltip and the menu show.
TEST_F(Tray, TooltipAndMenuFollowTheState)
{
    struct Row {
        bool relay, service, id_known, session, accepting;
        const char* menu;
        const wchar_t* status;
        const wchar_t* tooltip;
    };
    const wchar_t* waiting = L"○ Ожидание подключения";
    const wchar_t* ready = L"○ Готов · ID 987654321";
    const wchar_t* watched = L"● Идёт сеанс: 10.1.2.3:4567";
    const wchar_t* tip_waiting = L"Orvane — ожидание подключения";
    const wchar_t* tip_id = L"Orvane — ID 987654321";
    const wchar_t* tip_session = L"Orvane — сеанс: 10.1.2.3:4567";
    const wchar_t* tip_off = L"Orvane — подключения запрещены";
    // Started by the service, the agent has no console and offers its log file.
    // clang-format off
    const Row rows[] = {
        {false, false, false, false, true, "2003* - 2001~ 2004~ 2005 - 2009 - 2002", waiting, tip_waiting},
        {false, false, false, true, true, "2003* - 2001~ 2004~ 2005 - 2009 - 2002", watched, tip_session},
        {false, false, true, false, true, "2003* - 2001~ 2004 2005 - 2009 - 2002", ready, tip_id},
        {false, false, true, true, true, "2003* - 2001~ 2004 2005 - 2009 - 2002", watched, tip_session},
        {false, true, false, false, true, "2003* - 2001~ 2004~ 2005 - 2010 - 2002", waiting, tip_waiting},
        {false, true, false, true, true, "2003* - 2001~ 2004~ 2005 - 2010 - 2002", watched, tip_session},
        {false, true, true, false, true, "2003* - 2001~ 2004 2005 - 2010 - 2002", ready, tip_id},
        {false, true, true, true, true, "2003* - 2001~ 2004 2005 - 2010 - 2002", watched, tip_session},
        {true, false, false, false, true, "2003* - 2001~ 2004~ 2005 2007 2008 - 2009 - 2002", waiting, tip_waiting},
        {true, false, false, true, true, "2003* - 2001~ 2004~ 2005 2007 2008 - 2009 - 2002", watched, tip_session},
        {true, false, true, false, true, "2003* - 2001~ 2004 2005 2007 2008 - 2009 - 2002", ready, tip_id},
        {true, false, true, true, true, "2003* - 2001~ 2004 2005 2007 2008 - 2009 - 2002", watched, tip_session},
        {true, true, false, false, true, "2003* - 2001~ 2004~ 2005 2007 2008 - 2010 - 2002", waiting, tip_waiting},
        {true, true, false, true, true, "2003* - 2001~ 2004~ 2005 2007 2008 - 2010 - 2002", watched, tip_session},
        {true, true, true, false, true, "2003* - 2001~ 2004 2005 2007 2008 - 2010 - 2002", ready, tip_id},
        {true, true, true, true, true, "2003* - 2001~ 2004 2005 2007 2008 - 2010 - 2002", watched, tip_session},
        // Connections forbidden: said even when the ID is known; a session still says so.
        {true, false, true, false, false, "2003* - 2001~ 2004 2005 2007 2008 - 2009 - 2002", ready, tip_off},
        {true, false, true, true, false, "2003* - 2001~ 2004 2005 2007 2008 - 2009 - 2002", watched, tip_session},
    };
    // clang-format on
    const std::pair<int, std::wstring> fixed_texts[] = {
        {2003, L"Открыть Orvane"},
        {2004, L"Копировать ID"},
        {2005, L"Копировать пароль"},
        {2007, L"Новый пароль"},
        {2008, L"Сбросить ID (новый после перезапуска)"},
        {2009, L"Включить фоновый доступ (служба)..."},
        {2010, L"Открыть файл журнала"},
        {2002, L"Выход"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "relay " << row.relay << ", service " << row.service
                                        << ", ID " << row.id_known << ", session " << row.session
                                        << ", accepting " << row.accepting);
        agent.config.relay_host = row.relay ? "127.0.0.1" : "";
        agent.launched_by_service = row.service;
        agent.relay_assigned_id.set(row.id_known ? "987654321" : "");
        agent.viewer_connected = row.session;
        agent.viewer_name.set(row.session ? L"10.1.2.3:4567" : L"");
        agent.config.accept_connections = row.accepting;
        update_tray();

        std::vector<std::pair<int, std::wstring>> texts;
        EXPECT_EQ(open_menu(texts), row.menu);
        for (const auto& [command, text] : texts) {
            if (command == TRAY_STATUS) {
                EXPECT_EQ(utf8(text), utf8(row.status));
            }
            for (const auto& [fixed, fixed_text] : fixed_texts) {
                if (command == fixed) {
                    EXPECT_EQ(utf8(text), utf8(fixed_text)) << command;
                }
            }
        }
        EXPECT_EQ(utf8(hover_tooltip()), utf8(row.tooltip));
    }

    // Without a main window there is nothing to open.
    ui.main_window = nullptr;
    agent.launched_by_service = false;
    EXPECT_EQ(open_menu(), "2001~ 2004 2005 2007 2008 - 2009 - 2002");
}

// A console of its own can be shown and hidden from the menu, which shows
// whether it is visible; the log-file item gives way to it.
TEST_F(Tray, OwnConsoleIsToggledFromTheMenu)
{
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    HWND console = GetConsoleWindow();
    ASSERT_NE(console, nullptr);
    ShowWindow(console, SW_SHOW);
    for (bool service : {false, true}) {
        agent.launched_by_service = service;
        ShowWindow(console, SW_SHOW);
        EXPECT_EQ(open_menu(), service
                                   ? "2003* - 2001~ 2004~ 2005 2007 2008 - 2006v - 2002"
                                   : "2003* - 2001~ 2004~ 2005 2007 2008 - 2009 - 2006v - 2002");
    }
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_CONSOLE, 0);
    EXPECT_FALSE(IsWindowVisible(console));
    EXPECT_EQ(open_menu(), "2003* - 2001~ 2004~ 2005 2007 2008 - 2006 - 2002");
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_CONSOLE, 0);
    EXPECT_TRUE(IsWindowVisible(console));
    FreeConsole();
}

TEST_F(Tray, CopyCommandsPutTheTextsOnTheClipboard)
{
    agent.relay_assigned_id.set("123456789");
    agent.config.current_password.set("пароль№1");  // UTF-8, as the agent keeps it
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_COPY_ID, 0);
    EXPECT_EQ(utf8(clipboard_text()), "123456789");
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_COPY_PASSWORD, 0);
    EXPECT_EQ(utf8(clipboard_text()), "пароль№1");

    // Nothing to copy: the clipboard keeps what it had.
    agent.relay_assigned_id.set("");
    set_clipboard(L"kept");
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_COPY_ID, 0);
    EXPECT_EQ(utf8(clipboard_text()), "kept");
}

TEST_F(Tray, NewPasswordIsStoredProtected)
{
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_NEW_PASSWORD, 0);
    const std::string fresh = agent.config.current_password.get();
    EXPECT_NE(fresh, "abc123");
    EXPECT_EQ(fresh.size(), 6u);
    EXPECT_EQ(ini_value(ini_path, "password"), "");
    EXPECT_EQ(unprotect_secret(ini_value(ini_path, "password_enc")), fresh);
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_NEW_PASSWORD, 0);
    EXPECT_NE(agent.config.current_password.get(), fresh);
}

// No working generator: the old password stays, in memory and in server.ini,
// and the user hears why.
TEST_F(Tray, NewPasswordWithoutAGeneratorKeepsTheOldOne)
{
    const RandomSource none_works[] = {[](std::uint8_t*, std::size_t) { return false; }};
    const std::string ini_before = read_file(dir.file(L"server.ini"));
    std::string box_text;
    std::thread closer = answer_next_box(box_text);
    EXPECT_FALSE(renew_agent_password(none_works));
    closer.join();
    EXPECT_EQ(box_text, "Не удалось создать новый пароль: системный генератор случайных чисел не "
                        "работает. Прежний пароль остаётся в силе.\nOK\n");
    EXPECT_EQ(agent.config.current_password.get(), "abc123");
    EXPECT_EQ(read_file(dir.file(L"server.ini")), ini_before);
}

// The ID is emptied in memory and in server.ini, and the user is told when
// the new one comes.
TEST_F(Tray, ResetIdEmptiesTheStoredIdAndSaysSo)
{
    std::string box_text;
    std::thread closer = answer_next_box(box_text);
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_RESET_ID, 0);
    closer.join();
    EXPECT_EQ(box_text, "Новый ID будет выдан после перезапуска приложения.\nOK\n");
    EXPECT_EQ(agent.config.relay_id.get(), "");
    EXPECT_EQ(ini_value(ini_path, "relay_id"), "");
}

// The elevated "--install" runs this test program again; what it answers
// decides whether the agent closes.
TEST_F(Tray, BackgroundAccessClosesTheAgentOnlyWhenTheInstallSucceeded)
{
    struct Case {
        const wchar_t* exit_code;
        const char* box;
        bool closes;
    };
    const Case cases[] = {
        {L"1", "Не удалось включить фоновый доступ.", false},
        {L"0",
         "Фоновый доступ включён. Сейчас эта копия закроется — служба сама подхватит сеанс с "
         "тем же ID и паролем.",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.exit_code));
        const std::wstring mark = dir.file(std::wstring(L"installed-") + c.exit_code);
        SetEnvironmentVariableW(INSTALL_EXIT_VARIABLE, c.exit_code);
        SetEnvironmentVariableW(INSTALL_MARK_VARIABLE, mark.c_str());
        std::string box_text;
        std::thread closer = answer_next_box(box_text);
        HWND tray = ui.tray_window;
        SendMessageW(tray, WM_COMMAND, TRAY_INSTALL_SERVICE, 0);
        closer.join();
        EXPECT_TRUE(file_exists(mark)) << "the installer did not run";
        EXPECT_EQ(box_text, std::string(c.box) + "\nOK\n");
        EXPECT_EQ(IsWindow(tray) == FALSE, c.closes);
        MSG quit;
        EXPECT_EQ(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, c.closes);
    }
}

TEST_F(Tray, ExitRemovesTheIconAndEndsTheMessageLoop)
{
    HWND tray = ui.tray_window;
    SendMessageW(tray, WM_COMMAND, TRAY_EXIT, 0);
    EXPECT_FALSE(IsWindow(tray));
    EXPECT_EQ(ui.tray_window, nullptr);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_TRUE(pump_until([] { return tray_icons().empty(); }));
}

BOOL CALLBACK find_log_viewer(HWND window, LPARAM param)
{
    if (IsWindowVisible(window) &&
        text_of(window).find(L"orvane_agent.log") != std::wstring::npos) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

// The log file beside the program opens for reading, even where nothing is
// registered for .log files (as under Wine).
TEST_F(Tray, OpenLogShowsTheLogBesideTheProgram)
{
    const std::wstring log = test_bin_dir() + L"orvane_agent.log";
    write_file(log, "=== Orvane agent start\n");
    SendMessageW(ui.tray_window, WM_COMMAND, TRAY_OPEN_LOG, 0);
    HWND viewer = nullptr;
    EXPECT_TRUE(pump_until(
        [&] {
            EnumWindows(find_log_viewer, LPARAM(&viewer));
            return viewer != nullptr;
        },
        30000));
    if (viewer)
        PostMessageW(viewer, WM_CLOSE, 0, 0);
    pump(500);
    DeleteFileW(log.c_str());
}

// A restarted shell forgets the icons; its "TaskbarCreated" brings ours back.
TEST_F(Tray, TheIconComesBackWhenTheShellRestarts)
{
    remove_tray_icon();
    ASSERT_TRUE(pump_until([] { return tray_icons().empty(); }));
    SendMessageW(ui.tray_window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(pump_until([] { return tray_icons().size() == 1; }));
}

TEST_F(Tray, ClickOpensTheMainWindowAndClosingToTheTrayHidesIt)
{
    SendMessageW(ui.tray_window, WM_TRAY_NOTIFY, 1, WM_LBUTTONUP);
    EXPECT_TRUE(IsWindowVisible(main.hwnd));
    ShowWindow(main.hwnd, SW_MINIMIZE);
    SendMessageW(ui.tray_window, WM_TRAY_NOTIFY, 1, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(main.hwnd));
    EXPECT_FALSE(IsIconic(main.hwnd));
    show_tray_balloon_once();
    EXPECT_FALSE(IsWindowVisible(main.hwnd));
}

// --- the banner -----------------------------------------------------------------

namespace {

RECT banner_rect()
{
    RECT r{};
    GetWindowRect(ui.banner_window, &r);
    return r;
}

int centre(const RECT& r) { return (r.left + r.right) / 2; }

} // namespace

// Other threads only post; the banner follows the state once the interface
// thread gets to it, and it grows and shrinks around its centre.
TEST_F(Tray, BannerFollowsTheStateItIsToldOfWithoutBlockingTheTeller)
{
    ASSERT_NE(create_banner(GetModuleHandleW(nullptr)), nullptr);
    update_banner_visibility();
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    RECT idle = banner_rect();
    EXPECT_TRUE(IsWindowVisible(ui.banner_window));
    EXPECT_EQ(idle.top, 0);
    EXPECT_EQ(idle.bottom - idle.top, BANNER_HEIGHT);
    EXPECT_NEAR(centre(idle), screen / 2, 1);
    EXPECT_GE(idle.right - idle.left, BANNER_MIN_WIDTH);

    // The teller changes the state and returns while this thread does not
    // answer: a cross-thread call to its windows would never come back.
    UniqueHandle teller(CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            agent.viewer_name.set(L"192.168.100.200:61234");
            agent.viewer_connected = true;
            post_agent_state_changed();
            return 0;
        },
        nullptr, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(teller.get(), 20000), WAIT_OBJECT_0);

    EXPECT_TRUE(pump_until([&] { return banner_rect().right - banner_rect().left > 300; }));
    const RECT wide = banner_rect();
    EXPECT_NEAR(centre(wide), centre(idle), 1);
    EXPECT_EQ(wide.top, 0);

    // Forbidden connections hide it, but not while a viewer watches.
    agent.config.accept_connections = false;
    post_agent_state_changed();
    pump(300);
    EXPECT_TRUE(IsWindowVisible(ui.banner_window));
    agent.viewer_connected = false;
    agent.viewer_name.set(L"");
    post_agent_state_changed();
    EXPECT_TRUE(pump_until([] { return !IsWindowVisible(ui.banner_window); }));
    EXPECT_NEAR(centre(banner_rect()), centre(idle), 1);
    EXPECT_LT(banner_rect().right - banner_rect().left, 300);
}

// The service's signal re-creates the windows on the input desktop; the agent
// goes on as it was, its session shown on the new banner and icon.
TEST_F(Tray, RebuildRecreatesTheWindowsAndKeepsTheLoopRunning)
{
    ASSERT_NE(create_banner(GetModuleHandleW(nullptr)), nullptr);
    agent.viewer_name.set(L"192.168.100.200:61234");
    agent.viewer_connected = true;
    post_agent_state_changed();
    const HWND old_tray = ui.tray_window;
    const HWND old_banner = ui.banner_window;

    SendMessageW(old_tray, WM_REBUILD_UI, 0, 0);
    EXPECT_FALSE(IsWindow(old_tray));
    EXPECT_FALSE(IsWindow(old_banner));
    EXPECT_FALSE(IsWindow(main.hwnd));
    wchar_t main_class[32] = {};
    GetClassNameW(ui.main_window, main_class, 32);
    EXPECT_STREQ(main_class, L"OrvaneMain");
    EXPECT_TRUE(IsWindowVisible(ui.main_window));  // not started by the service: shown
    ASSERT_TRUE(IsWindow(ui.tray_window));
    ASSERT_TRUE(IsWindow(ui.banner_window));
    EXPECT_FALSE(ui.rebuilding);
    MSG quit;
    EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    EXPECT_TRUE(IsWindowVisible(ui.banner_window));
    EXPECT_GT(banner_rect().right - banner_rect().left, 300);  // the session's text
    EXPECT_TRUE(pump_until([] { return tray_icons().size() == 1; }));
    EXPECT_EQ(utf8(hover_tooltip()), "Orvane — сеанс: 192.168.100.200:61234");
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], INSTALL_ARG) == 0) {
        wchar_t mark[MAX_PATH] = {};
        wchar_t code[16] = L"0";
        GetEnvironmentVariableW(INSTALL_MARK_VARIABLE, mark, MAX_PATH);
        GetEnvironmentVariableW(INSTALL_EXIT_VARIABLE, code, 16);
        write_file(mark, "ran\n");
        return _wtoi(code);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
