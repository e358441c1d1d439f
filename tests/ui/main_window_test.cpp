// The main window in this process, on the run's display under Wine, driven
// with real window messages and read back from the screen: its controls, its
// commands and what its painting shows for each state of the agent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/agent_state.h"
#include "app/win_util.h"
#include "tests/win/test_support.h"
#include "ui/main_window.h"
#include "ui/main_window_layout.h"
#include "ui/reachability.h"
#include "ui/saved_list.h"
#include "ui/toolkit_win.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

// Answers the next box this process shows, from another thread, while the
// window's thread sits in the box's own loop. Text is empty when none came.
struct BoxAnswerer {
    explicit BoxAnswerer(int answer, DWORD wait_ms = 10000)
        : worker([this, answer, wait_ms] {
              HWND box = wait_for_dialog(GetCurrentProcessId(), wait_ms);
              if (!box)
                  return;
              text = dialog_text(box);
              PostMessageW(box, WM_COMMAND, answer, 0);
          })
    {}
    ~BoxAnswerer()
    {
        if (worker.joinable())
            worker.join();
    }
    std::string finish()
    {
        worker.join();
        return text;
    }
    std::string text;
    std::thread worker;
};

bool looks_like(COLORREF got, Colour want, int tolerance = 3)
{
    const COLORREF w = to_colorref(want);
    return std::abs(GetRValue(got) - GetRValue(w)) <= tolerance &&
           std::abs(GetGValue(got) - GetGValue(w)) <= tolerance &&
           std::abs(GetBValue(got) - GetBValue(w)) <= tolerance;
}

std::string hex(COLORREF c)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
}

std::wstring text_of(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// The width the window measures its status text with.
int status_text_width(const wchar_t* text)
{
    HFONT font = create_ui_font(13, 400);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT box{};
    DrawTextW(dc, text, -1, &box, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return box.right;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteFileW(default_saved_list_path().c_str());
        write_file(dir.file(L"server.ini"), "[server]\naccept_connections=1\n");
        agent.config.ini_path = wide_to_ansi(dir.file(L"server.ini"));
        agent.config.relay_host = "127.0.0.1";
        agent.config.relay_port = 56000;
        agent.config.accept_connections = true;
        agent.config.close_to_tray = true;
        agent.config.current_password.set("Pw4x7q");
        agent.relay_assigned_id.set("");
        agent.relay_info.set("");
        agent.viewer_connected = false;
        agent.launched_by_service = false;
        ui.rebuilding = false;
    }

    void TearDown() override
    {
        if (window && IsWindow(window))
            DestroyWindow(window);
        pump(50);
        DeleteFileW(default_saved_list_path().c_str());
    }

    void open()
    {
        window = create_main_window(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(ui.main_window, window);
        SetForegroundWindow(window);
        pump(200);
    }

    HWND item(int id) const { return GetDlgItem(window, id); }

    // Runs the thread's messages for a while, noting a quit message.
    void pump(DWORD ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        do {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit_code = int(msg.wParam);
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        } while (std::chrono::steady_clock::now() < end);
    }

    template <typename Condition>
    bool pump_until(Condition condition, DWORD timeout_ms = 5000)
    {
        for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
            if (condition())
                return true;
            pump(50);
        }
        return condition();
    }

    void click(int id) { SendMessageW(item(id), BM_CLICK, 0, 0); }

    // A pixel of the client area as the display shows it, after a full repaint.
    COLORREF pixel(int x, int y)
    {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        pump(50);
        return screen_pixel(window, x, y);
    }

    // Whether some pixel of the row from x0 to x1 shows the colour: a thin
    // line falls on one of a few pixels, depending on the rasterizer.
    bool row_has(int x0, int x1, int y, Colour colour, int tolerance = 6)
    {
        for (int x = x0; x <= x1; ++x)
            if (looks_like(pixel(x, y), colour, tolerance))
                return true;
        return false;
    }

    void write_saved_list(const std::string& text) { write_file(default_saved_list_path(), text); }

    TempDir dir;
    HWND window = nullptr;
    int quit_code = -1;
};

std::string ini_value(const std::wstring& path, const char* section, const char* key)
{
    char value[64] = {};
    GetPrivateProfileStringA(section, key, "<none>", value, 64, wide_to_ansi(path).c_str());
    return value;
}

}  // namespace

TEST_F(MainWindowTest, ControlsSitWhereTheTableSaysWithTheirStylesAndFonts)
{
    open();
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 608);
    EXPECT_EQ(text_of(window), L"Orvane 1.1.0.1");
    const LONG window_style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(window_style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(window_style & WS_MINIMIZEBOX, WS_MINIMIZEBOX);
    EXPECT_TRUE(IsWindowVisible(window));

    HFONT field_font = create_ui_font(15, 400), value_font = create_ui_font(22, 600);
    const LineHeights lines{font_line_height(field_font), font_line_height(value_font)};
    DeleteObject(field_font);
    DeleteObject(value_font);
    for (const MainControl& c : main_controls(lines, true)) {
        SCOPED_TRACE(c.id);
        HWND hwnd = item(c.id);
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(child_rect(hwnd), to_rect(c.rect));
        wchar_t cls[32] = {};
        GetClassNameW(hwnd, cls, 32);
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        EXPECT_EQ(GetWindowLongW(hwnd, GWL_EXSTYLE), 0);
        EXPECT_EQ(style & WS_BORDER, 0);
        // The list box hides while the list is empty.
        EXPECT_EQ(IsWindowVisible(hwnd) != FALSE, c.id != ID_SAVED_LIST);
        EXPECT_EQ(style & WS_CHILD, WS_CHILD);
        LOGFONTW font{};
        GetObjectW(HFONT(SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
        const FontSize size = main_font_size(c.font);
        EXPECT_EQ(font.lfHeight, -size.height);
        EXPECT_EQ(font.lfWeight, size.weight);
        EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
        if (c.cls == ControlClass::Button) {
            EXPECT_STREQ(cls, L"Button");
            EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
            EXPECT_EQ(style & WS_TABSTOP, WS_TABSTOP);
            ASSERT_NE(button_state(hwnd), nullptr);
            EXPECT_EQ(button_state(hwnd)->kind, int(c.kind));
            EXPECT_EQ(text_of(hwnd), c.text);
        } else {
            EXPECT_EQ(style & WS_TABSTOP, 0);
        }
    }
    struct Style {
        int id;
        LONG bits;
    };
    for (const Style& s :
         {Style{ID_PARTNER_ID, ES_AUTOHSCROLL},
          Style{ID_PARTNER_PASSWORD, ES_PASSWORD | ES_AUTOHSCROLL},
          Style{ID_OWN_ID, ES_READONLY | ES_AUTOHSCROLL},
          Style{ID_OWN_PASSWORD, ES_READONLY | ES_AUTOHSCROLL},
          Style{ID_SAVED_LIST, LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT}})
        EXPECT_EQ(GetWindowLongW(item(s.id), GWL_STYLE) & s.bits, s.bits) << s.id;
    EXPECT_EQ(SendMessageW(item(ID_PARTNER_ID), EM_GETLIMITTEXT, 0, 0), 32);
    EXPECT_EQ(SendMessageW(item(ID_PARTNER_PASSWORD), EM_GETLIMITTEXT, 0, 0), 255);
    EXPECT_EQ(SendMessageW(item(ID_PARTNER_PASSWORD), EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
    EXPECT_EQ(SendMessageW(item(ID_SAVED_LIST), LB_GETITEMHEIGHT, 0, 0), 40);
}

TEST_F(MainWindowTest, ServiceAgentHasNoAllowForbidButtonAndStartsHidden)
{
    agent.launched_by_service = true;
    open();
    EXPECT_EQ(item(ID_TOGGLE_ACCEPT), nullptr);
    EXPECT_NE(item(ID_EXIT), nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(MainWindowTest, OwnIdAndPasswordAreShownAndCopied)
{
    open();
    EXPECT_EQ(text_of(item(ID_OWN_ID)), L"…");
    EXPECT_EQ(text_of(item(ID_OWN_PASSWORD)), L"Pw4x7q");
    EXPECT_FALSE(IsWindowEnabled(item(ID_COPY_ID))) << "nothing to copy before registration";

    agent.relay_assigned_id.set("123456789");
    EXPECT_TRUE(pump_until([&] { return IsWindowEnabled(item(ID_COPY_ID)) != FALSE; }, 2500))
        << "within a second of the ID becoming known";
    EXPECT_EQ(text_of(item(ID_OWN_ID)), L"123456789");

    click(ID_COPY_ID);
    EXPECT_EQ(clipboard_text(), L"123456789");
    click(ID_COPY_PASSWORD);
    EXPECT_EQ(clipboard_text(), L"Pw4x7q");

    agent.config.current_password.set("N3wPas");  // replaced by the tray's "new password"
    EXPECT_TRUE(pump_until([&] { return text_of(item(ID_OWN_PASSWORD)) == L"N3wPas"; }, 2500));
}

TEST_F(MainWindowTest, TabSwitchesThePartnerFieldsAndTheirBoxesFollowTheFocus)
{
    open();
    HWND id = item(ID_PARTNER_ID), password = item(ID_PARTNER_PASSWORD);
    SetFocus(id);
    pump(50);
    // The left edges of the two boxes, halfway down.
    EXPECT_TRUE(row_has(37, 40, 152, Colour::Accent)) << hex(pixel(38, 152));
    EXPECT_TRUE(row_has(37, 40, 222, Colour::Line)) << hex(pixel(38, 222));

    SendMessageW(id, WM_CHAR, L'\t', 0);
    pump(50);
    EXPECT_EQ(GetFocus(), password);
    EXPECT_TRUE(row_has(37, 40, 222, Colour::Accent)) << hex(pixel(38, 222));
    EXPECT_TRUE(row_has(37, 40, 152, Colour::Line)) << hex(pixel(38, 152));
    SendMessageW(password, WM_CHAR, L'\t', 0);
    EXPECT_EQ(GetFocus(), id);
    EXPECT_EQ(GetWindowTextLengthW(id), 0) << "the tab is not typed";
    EXPECT_EQ(GetWindowTextLengthW(password), 0);

    SetFocus(item(ID_OWN_ID));  // the read-only values take focus too
    pump(50);
    EXPECT_TRUE(row_has(343, 346, 160, Colour::Accent)) << hex(pixel(344, 160));
    EXPECT_TRUE(row_has(37, 40, 152, Colour::Line));
}

TEST_F(MainWindowTest, ConnectingByIdNeedsAnIdAndARelay)
{
    open();
    struct Case {
        const wchar_t* id;
        const char* relay_host;
        bool press_enter;  // Enter in the password field, else the button
        const char* box;
    };
    const Case cases[] = {
        {L"", "127.0.0.1", true, "Введите ID партнёра."},
        {L"", "127.0.0.1", false, "Введите ID партнёра."},
        {L"123456789", "", true, "Релей не настроен. Задайте relay_host в server.ini."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        agent.config.relay_host = c.relay_host;
        SetWindowTextW(item(ID_PARTNER_ID), c.id);
        BoxAnswerer answer(IDOK);
        if (c.press_enter)
            SendMessageW(item(ID_PARTNER_PASSWORD), WM_CHAR, L'\r', 0);
        else
            click(ID_PARTNER_CONNECT);
        pump(300);  // Enter posts the command
        EXPECT_NE(answer.finish().find(c.box), std::string::npos) << answer.text;
        EXPECT_EQ(GetWindowTextLengthW(item(ID_PARTNER_PASSWORD)), 0) << "Enter is not typed";
    }
}

TEST_F(MainWindowTest, AllowForbidSwitchFollowsTheFlagAndTheFile)
{
    open();
    for (bool accepting : {false, true}) {
        click(ID_TOGGLE_ACCEPT);
        EXPECT_EQ(agent.config.accept_connections, accepting);
        EXPECT_EQ(ini_value(dir.file(L"server.ini"), "server", "accept_connections"),
                  accepting ? "1" : "0");
        EXPECT_EQ(text_of(item(ID_TOGGLE_ACCEPT)),
                  accepting ? L"Запретить подключение" : L"Разрешить подключение");
        EXPECT_EQ(button_state(item(ID_TOGGLE_ACCEPT))->kind,
                  int(accepting ? ButtonKind::Danger : ButtonKind::Primary));
    }
    // Without a server.ini path only the running agent changes.
    agent.config.ini_path.clear();
    click(ID_TOGGLE_ACCEPT);
    EXPECT_FALSE(agent.config.accept_connections);
    EXPECT_EQ(ini_value(dir.file(L"server.ini"), "server", "accept_connections"), "1");
}

TEST_F(MainWindowTest, StatusPillShowsTheAgentsStateAndKeepsItsRightEdge)
{
    open();
    struct Case {
        bool session, accepting;
        const char* relay_host;
        const char* id;
        Colour dot;
        const wchar_t* text;
    };
    const Case cases[] = {
        {true, false, "127.0.0.1", "123456789", Colour::Warn, L"Идёт сеанс удалённого доступа"},
        {false, false, "127.0.0.1", "123456789", Colour::Amber, L"Подключения запрещены"},
        {false, true, "", "", Colour::Accent, L"Ожидание подключения по порту"},
        {false, true, "127.0.0.1", "123456789", Colour::Accent, L"Готов к подключению"},
        {false, true, "127.0.0.1", "", Colour::Warn, L"Подключаемся к релею…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.text));
        agent.viewer_connected = c.session;
        agent.config.accept_connections = c.accepting;
        agent.config.relay_host = c.relay_host;
        agent.relay_assigned_id.set(c.id);
        const int w = status_text_width(c.text);
        EXPECT_TRUE(looks_like(pixel(595 - w, 33), c.dot)) << hex(pixel(595 - w, 33));
        EXPECT_TRUE(looks_like(pixel(578 - w, 33), Colour::Card, 4)) << "the pill's left end";
        EXPECT_TRUE(looks_like(pixel(574 - w, 33), Colour::White, 4)) << "left of the pill";
        EXPECT_TRUE(row_has(618, 620, 33, Colour::Line)) << "the right edge stays at 620";
        EXPECT_TRUE(looks_like(pixel(623, 33), Colour::White, 4));
    }
}

TEST_F(MainWindowTest, CardsStandOnTheWhiteSurface)
{
    open();
    // Each card's left edge at a height where nothing else is drawn: the
    // border, the card inside it and the nearly white margin outside.
    struct Probe {
        int left, y;
    };
    for (const Probe& p : {Probe{20, 300}, Probe{326, 300}, Probe{20, 575}}) {
        SCOPED_TRACE(p.left);
        EXPECT_TRUE(row_has(p.left - 1, p.left + 1, p.y, Colour::Line));
        EXPECT_TRUE(looks_like(pixel(p.left + 5, p.y), Colour::Card));
        EXPECT_TRUE(looks_like(pixel(p.left - 6, p.y), Colour::White, 8))
            << hex(pixel(p.left - 6, p.y));
    }
    // The top edge of the first card, and its shadow below the bottom edge.
    EXPECT_TRUE(looks_like(pixel(150, 70), Colour::Card));
    EXPECT_TRUE(looks_like(pixel(150, 60), Colour::White, 4));
    const COLORREF shadow = pixel(150, 322);
    EXPECT_LT(GetRValue(shadow), 255) << "a shadow under the card";
    EXPECT_TRUE(looks_like(pixel(150, 329), Colour::White, 4));
}

TEST_F(MainWindowTest, SavedListShowsEntriesWithTheirReachability)
{
    write_saved_list("[General]\ncount=4\n"
                     "[Server1]\nname=Office\nip=10.0.0.5\nport=55500\n"
                     "[Server2]\nrelay_host=127.0.0.1\nrelay_port=56000\nrelay_id=123456789\n"
                     "[Server3]\nname=Home\nip=10.0.0.6\n"
                     "[Server4]\nname=Lab\nip=10.0.0.7\n");
    open();
    HWND list = item(ID_SAVED_LIST);
    EXPECT_TRUE(IsWindowVisible(list));
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL, WS_VSCROLL) << "four rows scroll";
    EnterCriticalSection(&ui.saved_list_lock);
    EXPECT_EQ(ui.reachability, (std::vector<int>{-1, -1, -1, -1}));
    // The poller has heard of two entries; the third is beyond what it probed.
    ui.reachability = {1, 0};
    LeaveCriticalSection(&ui.saved_list_lock);
    PostMessageW(window, WM_REACHABILITY, 0, 0);
    pump(100);
    // Dots sit 6 pixels into each 40-pixel row of the list at (42, 390).
    const Colour dots[] = {Colour::Accent, Colour::Amber, Colour::Muted};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(looks_like(pixel(52, 410 + 40 * i), dots[i]))
            << i << " " << hex(pixel(52, 410 + 40 * i));

    SendMessageW(list, LB_SETCURSEL, 2, 0);
    EXPECT_TRUE(looks_like(pixel(52, 490), Colour::SelectionMuted)) << hex(pixel(52, 490));
    EXPECT_TRUE(looks_like(pixel(46, 480), Colour::Selection)) << hex(pixel(46, 480));
}

TEST_F(MainWindowTest, ListCommandsWantASelection)
{
    write_saved_list("[General]\ncount=2\n[Server1]\nname=A\nip=10.0.0.5\n"
                     "[Server2]\nname=B\nip=10.0.0.6\n");
    open();
    HWND list = item(ID_SAVED_LIST);
    SendMessageW(list, LB_SETCURSEL, WPARAM(-1), 0);
    for (int id : {ID_SAVED_EDIT, ID_SAVED_DELETE}) {
        BoxAnswerer none(IDNO, 1000);
        click(id);
        EXPECT_EQ(none.finish(), "") << id << " does nothing without a selection";
    }
    {
        BoxAnswerer told(IDOK);
        click(ID_SAVED_CONNECT);
        EXPECT_NE(told.finish().find("Выберите компьютер из списка."), std::string::npos);
    }
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);

    // Declining the question keeps the entry; agreeing removes it and saves.
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    for (int answer : {IDNO, IDYES}) {
        BoxAnswerer asked(answer);
        click(ID_SAVED_DELETE);
        EXPECT_NE(asked.finish().find("Удалить выбранный компьютер?"), std::string::npos);
    }
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
    ASSERT_EQ(ui.saved_list.size(), 1u);
    EXPECT_EQ(ui.saved_list[0].name, L"B");
    EXPECT_EQ(ini_value(default_saved_list_path(), "General", "count"), "1");
    EXPECT_EQ(ini_value(default_saved_list_path(), "Server1", "name"), "B");

    // The last one goes: the list box hides and the empty-list texts show.
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    BoxAnswerer asked(IDYES);
    click(ID_SAVED_DELETE);
    asked.finish();
    EXPECT_FALSE(IsWindowVisible(list));
    EXPECT_EQ(ini_value(default_saved_list_path(), "General", "count"), "0");
    EXPECT_TRUE(looks_like(pixel(52, 410), Colour::Field)) << "the list frame's own surface";
}

TEST_F(MainWindowTest, ClosingHidesToTheTrayOrEndsTheLoop)
{
    open();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    ShowWindow(window, SW_SHOW);
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window)) << "hidden, not minimised";
    pump(50);
    EXPECT_EQ(quit_code, -1);

    agent.config.close_to_tray = false;
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ui.main_window, nullptr);
    pump(50);
    EXPECT_EQ(quit_code, 0);
}

TEST_F(MainWindowTest, ExitAsksAndARebuildDoesNotEndTheProgram)
{
    open();
    for (int answer : {IDNO, IDYES}) {
        BoxAnswerer asked(answer);
        click(ID_EXIT);
        EXPECT_NE(asked.finish().find("Закрыть Orvane?"), std::string::npos);
        pump(50);
        EXPECT_EQ(quit_code, answer == IDYES ? 0 : -1);
    }

    // The tray destroys and re-creates the window on another desktop.
    quit_code = -1;
    ui.rebuilding = true;
    DestroyWindow(window);
    window = create_main_window(GetModuleHandleW(nullptr));
    ui.rebuilding = false;
    pump(50);
    EXPECT_EQ(quit_code, -1);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ui.main_window, window);
    EXPECT_NE(item(ID_SAVED_LIST), nullptr);
}
