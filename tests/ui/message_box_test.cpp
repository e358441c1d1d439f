// The message box on a thread of its own, as the viewer threads show theirs,
// driven from the test thread with real window messages and real input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/win/test_support.h"
#include "ui/message_box.h"
#include "ui/toolkit_win.h"
#include "ui_test_support.h"

namespace {

constexpr DWORD WAIT_MS = 15000;
constexpr UINT OWNER_PROBE = WM_APP + 8;    // records whether the box still exists
constexpr UINT OWNER_DESTROY = WM_APP + 9;  // the owner destroys itself
const wchar_t* const NO_CERT = L"Нет файла server.crt рядом с приложением.";

// One box shown on a worker thread, optionally with an owner window made on
// that thread, as the user-interface thread owns its windows.
struct BoxRun {
    std::promise<int> promise;

    BoxRun(std::wstring text, UINT flags, bool with_owner = false)
    {
        worker = std::thread([this, text, flags, with_owner] { run(text, flags, with_owner); });
    }
    // A test that failed half-way still ends its box.
    ~BoxRun()
    {
        while (answer.valid() &&
               answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (HWND b = find_box())
                PostMessageW(b, WM_CLOSE, 0, 0);
        worker.join();
    }

    // The box once it is visible, or null.
    HWND wait_box()
    {
        wait_until([this] { return find_box() != nullptr; });
        return box.load();
    }
    // The result of show_message_box, or -1 when the box did not end.
    int result()
    {
        if (answer.wait_for(std::chrono::milliseconds(WAIT_MS)) != std::future_status::ready)
            return -1;
        return answer.get();
    }
    // Whether the box still existed after the messages posted so far.
    bool alive_after_posted_messages()
    {
        probed = 0;
        PostMessageW(owner.load(), OWNER_PROBE, 0, 0);
        wait_until([this] { return probed.load() != 0; });
        return probed.load() == 1;
    }

    std::thread worker;
    std::future<int> answer = promise.get_future();
    std::atomic<DWORD> thread_id{0};
    std::atomic<HWND> box{nullptr};
    std::atomic<HWND> owner{nullptr};
    std::atomic<int> ticks{0};
    std::atomic<int> probed{0};
    bool owner_enabled_after = false;
    WPARAM quit_code_after = 0;
    bool quit_after = false;

private:
    HWND find_box()
    {
        EnumThreadWindows(
            thread_id.load(),
            [](HWND hwnd, LPARAM param) -> BOOL {
                wchar_t cls[32] = {};
                GetClassNameW(hwnd, cls, 32);
                if (std::wstring(cls) != L"OrvaneMsgBox" || !IsWindowVisible(hwnd))
                    return TRUE;
                reinterpret_cast<BoxRun*>(param)->box = hwnd;
                return FALSE;
            },
            LPARAM(this));
        return box.load();
    }

    static LRESULT CALLBACK owner_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
    {
        auto* run = reinterpret_cast<BoxRun*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (message) {
        case WM_TIMER:
            ++run->ticks;
            return 0;
        case OWNER_PROBE:
            run->probed = IsWindow(run->box.load()) ? 1 : 2;
            return 0;
        case OWNER_DESTROY:
            DestroyWindow(hwnd);
            return 0;
        }
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }

    void run(const std::wstring& text, UINT flags, bool with_owner)
    {
        thread_id = GetCurrentThreadId();
        HWND own = nullptr;
        if (with_owner) {
            static const bool registered = [] {
                WNDCLASSW cls{};
                cls.lpfnWndProc = owner_proc;
                cls.hInstance = GetModuleHandleW(nullptr);
                cls.lpszClassName = L"OrvaneTestOwner";
                return RegisterClassW(&cls) != 0;
            }();
            own = registered ? CreateWindowExW(0, L"OrvaneTestOwner", L"owner", WS_OVERLAPPEDWINDOW,
                                               0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr)
                             : nullptr;
            SetWindowLongPtrW(own, GWLP_USERDATA, LONG_PTR(this));
            SetTimer(own, 1, 20, nullptr);
            owner = own;
        }
        const int result = show_message_box(own, text.empty() ? nullptr : text.c_str(), flags);
        if (own && IsWindow(own)) {
            owner_enabled_after = IsWindowEnabled(own) != FALSE;
            DestroyWindow(own);
        }
        MSG msg;
        if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
            quit_after = true;
            quit_code_after = msg.wParam;
        }
        promise.set_value(result);
    }
};

// Where keyboard input for the box's thread goes.
HWND focus_of(const BoxRun& run, HWND box)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(run.thread_id.load(), &info) && info.hwndFocus)
        return info.hwndFocus;
    return box;
}

void press_key(const BoxRun& run, HWND box, WPARAM key)
{
    HWND target = focus_of(run, box);
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

RECT client_rect(HWND hwnd)
{
    RECT r{};
    GetClientRect(hwnd, &r);
    return r;
}

HWND message_text_control(HWND box)
{
    return FindWindowExW(box, nullptr, L"Static", nullptr);
}

std::wstring window_text(HWND hwnd)
{
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

} // namespace

TEST(MessageBoxWindow, OneLineTextGetsTheMinimumHeightAndTheLayout)
{
    for (const wchar_t* text : {L"Да?", L"", L"Введите ID партнёра."}) {
        BoxRun run(text, MB_ICONINFORMATION);
        HWND box = run.wait_box();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(client_rect(box), RECT({0, 0, 420, 160}));
        EXPECT_EQ(window_text(box), L"Orvane");
        const LONG style = GetWindowLongW(box, GWL_STYLE);
        const LONG wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        EXPECT_EQ(style & wanted, wanted);
        EXPECT_EQ(style & WS_THICKFRAME, 0);
        EXPECT_NE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, 0);
        RECT outer;
        GetWindowRect(box, &outer);
        EXPECT_NEAR((outer.left + outer.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
        EXPECT_NEAR((outer.top + outer.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

        HWND message = message_text_control(box);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(window_text(message), text);
        EXPECT_EQ(child_rect(message), RECT({92, 34, 404, 74}));
        HWND ok = GetDlgItem(box, IDOK);
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(window_text(ok), L"OK");
        EXPECT_EQ(child_rect(ok), RECT({304, 104, 396, 136}));
        EXPECT_EQ(GetDlgItem(box, IDYES), nullptr);
        PostMessageW(box, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.result(), IDOK);
    }
}

TEST(MessageBoxWindow, LongTextGrowsTheBoxAndKeepsTheButtonsBelowIt)
{
    std::wstring text;
    for (int i = 0; i < 8; ++i)
        text += L"Соединение с удалённым компьютером потеряно. ";
    BoxRun run(text, MB_YESNO | MB_ICONQUESTION);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    const RECT client = client_rect(box);
    EXPECT_EQ(client.right, 420);
    EXPECT_GT(client.bottom, 200);
    const RECT message = child_rect(message_text_control(box));
    EXPECT_EQ(message.bottom, client.bottom - 86);
    const RECT no = child_rect(GetDlgItem(box, IDNO)), yes = child_rect(GetDlgItem(box, IDYES));
    EXPECT_EQ(no, RECT({304, client.bottom - 56, 396, client.bottom - 24}));
    EXPECT_EQ(yes, RECT({200, client.bottom - 56, 292, client.bottom - 24}));
    EXPECT_EQ(window_text(GetDlgItem(box, IDNO)), L"Нет");
    EXPECT_EQ(window_text(GetDlgItem(box, IDYES)), L"Да");
    PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.result(), IDNO);
}

TEST(MessageBoxWindow, AnswersFromButtonsKeysAndTheCloseButton)
{
    enum Action { CaptionClose, Close, ClickYes, ClickNo, ClickOk, Enter, OkCommand };
    struct Case { const char* what; UINT flags; Action action; int result; };
    const Case cases[] = {
        {"yes/no closed by the caption button", 0x24, CaptionClose, IDNO},
        {"OK closed by the caption button", 0x30, CaptionClose, IDOK},
        {"information closed", 0x40, Close, IDOK},
        {"Да clicked", 0x24, ClickYes, IDYES},
        {"Нет clicked", 0x24, ClickNo, IDNO},
        {"OK clicked", 0x30, ClickOk, IDOK},
        {"Enter in an OK box", 0x40, Enter, IDOK},
        // Enter never accepts a question by reflex: it is not a yes.
        {"Enter in a question", 0x24, Enter, IDOK},
        {"IDOK command, as the agent tests send it", 0x30, OkCommand, IDOK},
    };
    for (const Case& c : cases) {
        BoxRun run(NO_CERT, c.flags);
        HWND box = run.wait_box();
        ASSERT_NE(box, nullptr) << c.what;
        switch (c.action) {
        case CaptionClose: PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); break;
        case Close: PostMessageW(box, WM_CLOSE, 0, 0); break;
        case ClickYes: PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0); break;
        case ClickNo: PostMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0); break;
        case ClickOk: PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); break;
        case Enter: press_key(run, box, VK_RETURN); break;
        case OkCommand: PostMessageW(box, WM_COMMAND, IDOK, 0); break;
        }
        EXPECT_EQ(run.result(), c.result) << c.what;
        EXPECT_FALSE(IsWindow(box)) << c.what;
    }
}

TEST(MessageBoxWindow, EscapeAndForeignCommandsLeaveItOpen)
{
    BoxRun run(L"Удалить выбранный компьютер?", 0x24, true);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    press_key(run, box, VK_ESCAPE);
    EXPECT_TRUE(run.alive_after_posted_messages()) << "Escape";
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(box, WM_COMMAND, 3004, 0);
    EXPECT_TRUE(run.alive_after_posted_messages()) << "other command ids";
    PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(run.result(), IDNO);
}

TEST(MessageBoxWindow, OwnerIsDisabledWhileItsTimersGoOn)
{
    BoxRun run(L"Закрыть Orvane?", 0x24, true);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    HWND owner = run.owner.load();
    EXPECT_EQ(GetWindow(box, GW_OWNER), owner);
    EXPECT_FALSE(IsWindowEnabled(owner));
    const int ticks = run.ticks.load();
    EXPECT_TRUE(wait_until([&] { return run.ticks.load() >= ticks + 3; }))
        << "the nested loop must dispatch the owner's timer";
    EXPECT_TRUE(IsWindow(box));
    PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    EXPECT_EQ(run.result(), IDYES);
    EXPECT_TRUE(run.owner_enabled_after);
}

TEST(MessageBoxWindow, QuitWhileOpenEndsItAndReachesTheOuterLoop)
{
    BoxRun run(L"Просмотр уже открыт. Закройте текущее окно.", 0x24, true);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    PostThreadMessageW(run.thread_id.load(), WM_QUIT, 5, 0);
    EXPECT_EQ(run.result(), IDOK) << "no answer: a refusal";
    EXPECT_FALSE(IsWindow(box)) << "the box must not outlive the call";
    EXPECT_TRUE(run.quit_after);
    EXPECT_EQ(run.quit_code_after, WPARAM(5));
    EXPECT_TRUE(run.owner_enabled_after);
}

TEST(MessageBoxWindow, DestroyedOwnerTakesTheBoxAlong)
{
    BoxRun run(L"Удалить выбранный компьютер?", 0x24, true);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    PostMessageW(run.owner.load(), OWNER_DESTROY, 0, 0);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_FALSE(IsWindow(box));
}

TEST(MessageBoxWindow, AgentTestHelpersFindAndReadIt)
{
    BoxRun run(NO_CERT, MB_ICONWARNING);
    HWND box = wait_for_dialog(GetCurrentProcessId(), WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(dialog_text(box).find(utf8(NO_CERT)), std::string::npos) << dialog_text(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(run.result(), IDOK);
}

namespace {

COLORREF screen_pixel(POINT at)
{
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

POINT on_screen(HWND hwnd, int x, int y)
{
    POINT p{x, y};
    ClientToScreen(hwnd, &p);
    return p;
}

void move_pointer(POINT to)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = to.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = to.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

void click_pointer()
{
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof inputs[0]);
}

bool pixel_becomes(POINT at, Colour colour)
{
    return wait_until([&] { return screen_pixel(at) == to_colorref(colour); });
}

} // namespace

TEST(MessageBoxWindow, PaintsCardIconAndButtonsThatFollowThePointer)
{
    BoxRun run(L"Удалить выбранный компьютер?", 0x24);
    HWND box = run.wait_box();
    ASSERT_NE(box, nullptr);
    // Other windows on the test display must not hide the pixels read here.
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    move_pointer(on_screen(box, 10, 150));
    EXPECT_TRUE(pixel_becomes(on_screen(box, 5, 5), Colour::White));
    EXPECT_TRUE(pixel_becomes(on_screen(box, 30, 120), Colour::Card));
    EXPECT_TRUE(pixel_becomes(on_screen(box, 41, 52), Colour::Warn)) << "question icon";
    EXPECT_TRUE(pixel_becomes(on_screen(box, 400, 70), Colour::Card)) << "behind the message";

    HWND yes = GetDlgItem(box, IDYES), no = GetDlgItem(box, IDNO);
    const POINT yes_fill = on_screen(yes, 6, 6), no_fill = on_screen(no, 6, 6);
    EXPECT_TRUE(pixel_becomes(yes_fill, Colour::Accent));
    EXPECT_TRUE(pixel_becomes(no_fill, Colour::Neutral));
    EXPECT_TRUE(pixel_becomes(on_screen(yes, 0, 0), Colour::Card)) << "rounded corner on the card";

    move_pointer(on_screen(yes, 46, 16));
    EXPECT_TRUE(pixel_becomes(yes_fill, Colour::AccentHover)) << "pointer over Да";
    move_pointer(on_screen(no, 46, 16));
    EXPECT_TRUE(pixel_becomes(yes_fill, Colour::Accent)) << "pointer left Да";
    EXPECT_TRUE(pixel_becomes(no_fill, Colour::Field)) << "pointer over Нет";
    move_pointer(on_screen(yes, 46, 16));
    EXPECT_TRUE(pixel_becomes(yes_fill, Colour::AccentHover)) << "back over Да";
    EXPECT_TRUE(pixel_becomes(no_fill, Colour::Neutral));

    click_pointer();
    EXPECT_EQ(run.result(), IDYES);
}
