// The tray icon, its menu and commands, and the rebuild of the interface on
// the input desktop.
#include "ui/tray.h"

#include <shellapi.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <utility>

#include "app/agent_config_win.h"
#include "app/agent_log.h"
#include "app/agent_state.h"
#include "app/win_handles.h"
#include "app/win_util.h"
#include "credentials/protected_storage.h"
#include "resources/resource_ids.h"
#include "service/session_watch.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/toolkit_win.h"
#include "ui/tray_view.h"
#include "ui/ui_state.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneTray";
constexpr UINT ICON_ID = 1;
constexpr UINT_PTR RETRY_TIMER = 9001;
constexpr UINT RETRY_PERIOD_MS = 1500;
constexpr int RETRY_COUNT = 40;  // about a minute
constexpr DWORD INSTALL_WAIT_MS = 15000;
constexpr std::size_t DESKTOP_NAME_CHARS = 128;

constexpr wchar_t BALLOON_TEXT[] =
    L"Приложение работает в трее. Клик по иконке — открыть, правый клик — меню.";
constexpr wchar_t NEW_ID_TEXT[] = L"Новый ID будет выдан после перезапуска приложения.";
constexpr wchar_t INSTALLED_TEXT[] =
    L"Фоновый доступ включён. Сейчас эта копия закроется — служба сама подхватит сеанс с тем "
    L"же ID и паролем.";
constexpr wchar_t INSTALL_FAILED_TEXT[] = L"Не удалось включить фоновый доступ.";
constexpr wchar_t NO_NEW_PASSWORD_TEXT[] =
    L"Не удалось создать новый пароль: системный генератор случайных чисел не работает. "
    L"Прежний пароль остаётся в силе.";

// The tray's own state; the interface thread's alone.
struct TrayState {
    HINSTANCE instance = nullptr;
    NOTIFYICONDATAW icon{};  // as last given to the shell
    UINT taskbar_created = 0;
    int retries_left = 0;
    bool balloon_shown = false;
    UniqueDesktop desktop;  // the input desktop the interface moved to, if it moved
    std::wstring desktop_name;
};

TrayState tray;

OwnConsole own_console()
{
    HWND console = GetConsoleWindow();
    DWORD processes[2];
    // Started from a command prompt, the console is the prompt's, not ours to hide.
    if (!console || GetConsoleProcessList(processes, 2) != 1)
        return OwnConsole::None;
    return IsWindowVisible(console) ? OwnConsole::Visible : OwnConsole::Hidden;
}

TrayView current_view()
{
    TrayView view;
    view.session = agent.viewer_connected;
    view.viewer_name = agent.viewer_name.get();
    view.accepting = agent.config.accept_connections;
    view.id = utf8_to_wide(agent.relay_assigned_id.get());
    view.caption = agent.banner_caption.get();
    view.password_set = !agent.config.current_password.empty();
    view.relay_mode = !agent.config.relay_host.empty();
    view.launched_by_service = agent.launched_by_service;
    view.main_window = ui.main_window != nullptr;
    view.console = own_console();
    return view;
}

HICON load_tray_icon(bool session)
{
    const int size = GetSystemMetrics(SM_CXSMICON);
    const auto icon = HICON(
        LoadImageW(tray.instance, MAKEINTRESOURCEW(session ? IDI_ORVANE_ACTIVE : IDI_ORVANE_IDLE),
                   IMAGE_ICON, size, size, LR_SHARED));
    if (icon)
        return icon;
    return LoadIconW(nullptr, session ? IDI_ERROR : IDI_APPLICATION);
}

void set_tip(const std::wstring& tip)
{
    std::wcsncpy(tray.icon.szTip, tip.c_str(), std::size(tray.icon.szTip) - 1);
    tray.icon.szTip[std::size(tray.icon.szTip) - 1] = 0;
}

bool add_icon()
{
    tray.icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    return Shell_NotifyIconW(NIM_ADD, &tray.icon) != FALSE;
}

// --- menu --------------------------------------------------------------------

HMENU build_menu()
{
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return nullptr;
    for (const TrayMenuItem& item : tray_menu_items(current_view())) {
        if (item.separator_before)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        UINT flags = MF_STRING;
        if (item.greyed)
            flags |= MF_GRAYED;
        if (item.checked)
            flags |= MF_CHECKED;
        AppendMenuW(menu, flags, UINT_PTR(item.command), item.text.c_str());
        if (item.is_default)
            SetMenuDefaultItem(menu, UINT(item.command), FALSE);
    }
    return menu;
}

void show_menu(HWND window)
{
    HMENU menu = build_menu();
    if (!menu)
        return;
    POINT at;
    GetCursorPos(&at);
    // Without the foreground the menu would not close when clicked away from.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// --- commands ----------------------------------------------------------------

void open_main_window()
{
    HWND main = ui.main_window;
    if (!main)
        return;
    if (IsIconic(main))
        ShowWindow(main, SW_RESTORE);
    ShowWindow(main, SW_SHOW);
    SetForegroundWindow(main);
}

void copy_utf8(HWND owner, const std::string& text, std::size_t max_chars)
{
    std::wstring wide = utf8_to_wide(text);
    if (wide.size() > max_chars)
        wide.resize(max_chars);
    put_clipboard_text(owner, wide);
}

void toggle_console()
{
    if (HWND console = GetConsoleWindow())
        ShowWindow(console, IsWindowVisible(console) ? SW_HIDE : SW_SHOW);
}

void reset_id()
{
    agent.config.relay_id.set("");
    if (!agent.config.ini_path.empty())
        write_server_ini_key(agent.config.ini_path, "relay_id", "");
    show_message_box(nullptr, NEW_ID_TEXT, MB_ICONINFORMATION);
}

void end_agent()
{
    if (HWND window = ui.tray_window)
        DestroyWindow(window);  // removes the icon and ends the message loop
}

// Installs the service from an elevated copy of ourselves. The service then
// starts its own agent, which this one would be in the way of.
void install_service_elevated(HWND window)
{
    wchar_t exe[MAX_PATH];
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0)
        return;
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS;
    run.hwnd = window;
    run.lpVerb = L"runas";
    run.lpFile = exe;
    run.lpParameters = L"--install";
    run.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&run)) {
        if (GetLastError() != ERROR_CANCELLED)  // the user said no: nothing to tell
            show_message_box(nullptr, INSTALL_FAILED_TEXT, MB_ICONERROR);
        return;
    }
    DWORD code = STILL_ACTIVE;
    if (const UniqueHandle installer(run.hProcess); installer) {
        WaitForSingleObject(installer.get(), INSTALL_WAIT_MS);
        GetExitCodeProcess(installer.get(), &code);
    }
    // An installer that reports failure leaves no service to take over:
    // closing now would leave the machine unreachable.
    if (code != 0 && code != STILL_ACTIVE) {
        show_message_box(nullptr, INSTALL_FAILED_TEXT, MB_ICONERROR);
        return;
    }
    show_message_box(nullptr, INSTALLED_TEXT, MB_ICONINFORMATION);
    end_agent();
}

void open_log_file()
{
    const std::wstring path = ansi_to_wide(exe_directory() + "orvane_agent.log");
    const auto opened =
        INT_PTR(ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // Nothing registered for .log files (Wine has nothing): Notepad reads it.
    if (opened == SE_ERR_NOASSOC)
        ShellExecuteW(nullptr, L"open", L"notepad.exe", (L"\"" + path + L"\"").c_str(), nullptr,
                      SW_SHOWNORMAL);
}

void on_command(HWND window, int command)
{
    switch (command) {
    case TRAY_EXIT:
        end_agent();
        break;
    case TRAY_OPEN:
        open_main_window();
        break;
    case TRAY_COPY_ID:
        copy_utf8(window, agent.relay_assigned_id.get(), 64);
        break;
    case TRAY_COPY_PASSWORD:
        copy_utf8(window, agent.config.current_password.get(), 256);
        break;
    case TRAY_CONSOLE:
        toggle_console();
        break;
    case TRAY_NEW_PASSWORD:
        renew_agent_password();
        break;
    case TRAY_RESET_ID:
        reset_id();
        break;
    case TRAY_INSTALL_SERVICE:
        install_service_elevated(window);
        break;
    case TRAY_OPEN_LOG:
        open_log_file();
        break;
    }
}

// --- rebuild on the input desktop ----------------------------------------------

std::wstring desktop_name(HDESK desktop)
{
    wchar_t name[DESKTOP_NAME_CHARS] = {};
    DWORD needed = 0;
    GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name - sizeof *name, &needed);
    return name;
}

// Moves the interface thread to the desktop that receives input now. The name
// is that of the desktop the thread is on afterwards, moved or not.
std::wstring move_to_input_desktop()
{
    UniqueDesktop input(OpenInputDesktop(0, FALSE, GENERIC_ALL));
    if (!input)
        report_win32_failure("OpenInputDesktop");
    else if (!SetThreadDesktop(input.get()))
        report_win32_failure("SetThreadDesktop");
    else
        tray.desktop = std::move(input);  // the earlier one is no longer in use: closed
    return desktop_name(GetThreadDesktop(GetCurrentThreadId()));
}

void destroy_window(std::atomic<HWND>& slot)
{
    if (HWND window = slot.exchange(nullptr))
        DestroyWindow(window);
}

void destroy_window(HWND& slot)
{
    if (HWND window = std::exchange(slot, nullptr))
        DestroyWindow(window);
}

// A thread may change desktops only while it has no windows: all of them go
// and come back. Agent state, sessions included, is untouched.
void rebuild_interface()
{
    ui.rebuilding = true;
    destroy_window(ui.main_window);
    destroy_window(ui.banner_window);
    destroy_window(ui.tray_window);
    tray.desktop_name = move_to_input_desktop();

    if (create_banner(tray.instance))
        update_banner_visibility();
    create_tray(tray.instance);
    create_main_window(tray.instance);
    // What changed while no tray window took the posts shows now.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    update_banner_size();
    update_banner_visibility();
    update_tray();
    ui.rebuilding = false;
    log_info("[i] Интерфейс пересобран на столе «%s».\n", wide_to_utf8(tray.desktop_name).c_str());
}

// --- the window ----------------------------------------------------------------

void on_notify(HWND window, UINT event)
{
    switch (event) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        open_main_window();
        break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
        show_menu(window);
        break;
    }
}

void on_retry_timer(HWND window)
{
    if (add_icon() || --tray.retries_left <= 0)
        KillTimer(window, RETRY_TIMER);
}

LRESULT CALLBACK tray_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == tray.taskbar_created && message != 0) {
        add_icon();  // the shell restarted and forgot every icon
        return 0;
    }
    switch (message) {
    case WM_TRAY_NOTIFY:
        on_notify(window, LOWORD(lparam));
        return 0;
    case WM_COMMAND:
        on_command(window, LOWORD(wparam));
        return 0;
    case WM_TIMER:
        if (wparam == RETRY_TIMER)
            on_retry_timer(window);
        return 0;
    case WM_AGENT_STATE:
        update_banner_size();
        update_banner_visibility();
        update_tray();
        return 0;
    case WM_REBUILD_UI:
        rebuild_interface();
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconW(NIM_DELETE, &tray.icon);
        {
            HWND self = window;  // a rebuild may have made another already
            ui.tray_window.compare_exchange_strong(self, nullptr);
        }
        if (!ui.rebuilding)
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool register_tray_class(HINSTANCE instance)
{
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = tray_proc;
    cls.hInstance = instance;
    cls.lpszClassName = CLASS_NAME;
    return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

void create_tray(HINSTANCE instance)
{
    tray.instance = instance;
    if (!register_tray_class(instance))
        return;
    tray.taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, CLASS_NAME, L"Orvane tray", WS_POPUP, 0, 0, 0,
                                  0, nullptr, nullptr, instance, nullptr);
    if (!window) {
        report_win32_failure("CreateWindowExW");
        return;
    }
    // An agent the service started runs above the shell's integrity level;
    // the shell's messages must still reach it.
    ChangeWindowMessageFilterEx(window, tray.taskbar_created, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, WM_TRAY_NOTIFY, MSGFLT_ALLOW, nullptr);
    tray.icon = NOTIFYICONDATAW{};
    tray.icon.cbSize = sizeof tray.icon;
    tray.icon.hWnd = window;
    tray.icon.uID = ICON_ID;
    tray.icon.uCallbackMessage = WM_TRAY_NOTIFY;
    tray.icon.hIcon = load_tray_icon(false);
    set_tip(L"Orvane — ожидание подключения");
    ui.tray_window = window;
    if (!add_icon()) {
        // No taskbar yet (the agent started before the shell).
        tray.retries_left = RETRY_COUNT;
        SetTimer(window, RETRY_TIMER, RETRY_PERIOD_MS, nullptr);
    }
}

void update_tray()
{
    if (!ui.tray_window)
        return;
    const TrayView view = current_view();
    tray.icon.hIcon = load_tray_icon(view.session);
    set_tip(tray_tooltip(view));
    tray.icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &tray.icon);
}

void show_tray_balloon_once()
{
    if (HWND main = ui.main_window)
        ShowWindow(main, SW_HIDE);
    if (tray.balloon_shown || !ui.tray_window)
        return;
    tray.balloon_shown = true;
    NOTIFYICONDATAW balloon = tray.icon;
    balloon.uFlags = NIF_INFO;
    balloon.dwInfoFlags = NIIF_INFO;
    std::wcsncpy(balloon.szInfoTitle, L"Orvane", std::size(balloon.szInfoTitle) - 1);
    std::wcsncpy(balloon.szInfo, BALLOON_TEXT, std::size(balloon.szInfo) - 1);
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void remove_tray_icon()
{
    if (tray.icon.hWnd)
        Shell_NotifyIconW(NIM_DELETE, &tray.icon);
}

bool renew_agent_password(std::span<const RandomSource> sources)
{
    if (!generate_agent_password(sources)) {
        log_error("[!] %s\n", wide_to_utf8(NO_NEW_PASSWORD_TEXT).c_str());
        show_message_box(nullptr, NO_NEW_PASSWORD_TEXT, MB_ICONERROR);
        return false;
    }
    save_agent_password();
    update_tray();
    if (HWND main = ui.main_window)
        InvalidateRect(main, nullptr, FALSE);
    return true;
}

void post_agent_state_changed()
{
    // Pairs with the fence of the rebuild: either the rebuild sees the new
    // state, or this sees the new tray window.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (HWND window = ui.tray_window)
        PostMessageW(window, WM_AGENT_STATE, 0, 0);
}
