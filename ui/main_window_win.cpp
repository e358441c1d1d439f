// The agent's main window: its controls, commands and the state its painting reads.
#include "ui/main_window.h"

#include <commctrl.h>

#include <string>

#include "app/agent_config_win.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "resources/resource_ids.h"
#include "ui/edit_computer_dialog.h"
#include "ui/main_window_win.h"
#include "ui/message_box.h"
#include "ui/reachability.h"
#include "ui/saved_list.h"
#include "ui/toolkit_win.h"
#include "ui/tray.h"
#include "ui/tray_view.h"
#include "ui/ui_state.h"
#include "viewer/viewer.h"

MainWindowState::MainWindowState() = default;

MainWindowState::~MainWindowState()
{
    // The controls that used the fonts are gone by now: children go first.
    for (HFONT font : fonts)
        if (font)
            DeleteObject(font);
    if (field_brush)
        DeleteObject(field_brush);
}

namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneMain";
constexpr DWORD WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr UINT_PTR REFRESH_TIMER = 1;
constexpr UINT REFRESH_PERIOD_MS = 1000;
constexpr UINT_PTR PARTNER_EDIT_SUBCLASS = 1;
constexpr int VALUE_READ_CHARS = 64;
constexpr wchar_t EMPTY_VALUE[] = L"…";

constexpr wchar_t CHOOSE_COMPUTER_TEXT[] = L"Выберите компьютер из списка.";
constexpr wchar_t ENTER_PARTNER_ID_TEXT[] = L"Введите ID партнёра.";
constexpr wchar_t NO_RELAY_TEXT[] = L"Релей не настроен. Задайте relay_host в server.ini.";
constexpr wchar_t DELETE_QUESTION[] = L"Удалить выбранный компьютер?";
constexpr wchar_t EXIT_QUESTION[] =
    L"Закрыть Orvane? Пока программа не запущена, подключиться к этому компьютеру будет нельзя.";

MainWindowState* state_of(HWND window)
{
    return reinterpret_cast<MainWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND control(const MainWindowState& state, int id) { return GetDlgItem(state.window, id); }

std::wstring window_text(HWND window, int max_chars)
{
    std::wstring text(std::size_t(max_chars) + 1, L'\0');
    text.resize(std::size_t(GetWindowTextW(window, text.data(), max_chars + 1)));
    return text;
}

// --- creation ---------------------------------------------------------------

DWORD control_style(int id)
{
    switch (id) {
    case ID_PARTNER_ID:
        return ES_AUTOHSCROLL;
    case ID_PARTNER_PASSWORD:
        return ES_PASSWORD | ES_AUTOHSCROLL;
    case ID_OWN_ID:
    case ID_OWN_PASSWORD:
        return ES_READONLY | ES_AUTOHSCROLL;
    case ID_SAVED_LIST:
        return WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT;
    default:
        return 0;
    }
}

const wchar_t* class_name(ControlClass cls)
{
    switch (cls) {
    case ControlClass::Edit:
        return L"EDIT";
    case ControlClass::ListBox:
        return L"LISTBOX";
    case ControlClass::Button:
        break;
    }
    return L"BUTTON";
}

LRESULT CALLBACK partner_edit_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                   DWORD_PTR)
{
    if (message == WM_CHAR && (wparam == L'\r' || wparam == L'\t')) {
        HWND window = GetParent(edit);
        if (wparam == L'\r') {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(ID_PARTNER_CONNECT, BN_CLICKED),
                         LPARAM(GetDlgItem(window, ID_PARTNER_CONNECT)));
        } else {
            const int other =
                GetDlgCtrlID(edit) == ID_PARTNER_ID ? ID_PARTNER_PASSWORD : ID_PARTNER_ID;
            SetFocus(GetDlgItem(window, other));
        }
        return 0;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(edit, partner_edit_proc, PARTNER_EDIT_SUBCLASS);
    return DefSubclassProc(edit, message, wparam, lparam);
}

bool create_controls(MainWindowState& state)
{
    const LineHeights lines{font_line_height(state.font(MainFont::Field)),
                            font_line_height(state.font(MainFont::OwnValue))};
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(state.window, GWLP_HINSTANCE));
    for (const MainControl& c : main_controls(lines, agent.config.accept_connections)) {
        // The service's agent shows a hint there instead: whoever sits at a
        // log-on screen must not switch the machine off for its owner.
        if (c.id == ID_TOGGLE_ACCEPT && agent.launched_by_service)
            continue;
        const bool button = c.cls == ControlClass::Button;
        const DWORD style =
            WS_CHILD | WS_VISIBLE | control_style(c.id) | (button ? WS_TABSTOP | BS_OWNERDRAW : 0);
        HWND hwnd = CreateWindowExW(0, class_name(c.cls), c.text, style, c.rect.left, c.rect.top,
                                    c.rect.width(), c.rect.height(), state.window,
                                    reinterpret_cast<HMENU>(INT_PTR(c.id)), instance, nullptr);
        if (!hwnd) {
            report_win32_failure("CreateWindowExW");
            return false;
        }
        if (button)
            attach_button_style(hwnd, state.font(c.font), c.kind);
        else
            SendMessageW(hwnd, WM_SETFONT, WPARAM(state.font(c.font)), FALSE);
    }
    HWND partner_id = control(state, ID_PARTNER_ID);
    HWND partner_password = control(state, ID_PARTNER_PASSWORD);
    SendMessageW(partner_id, EM_SETLIMITTEXT, PARTNER_ID_MAX_CHARS, 0);
    SendMessageW(partner_password, EM_SETLIMITTEXT, PARTNER_PASSWORD_MAX_CHARS, 0);
    SendMessageW(partner_password, EM_SETPASSWORDCHAR, WPARAM(L'\x25CF'), 0);
    SetWindowSubclass(partner_id, partner_edit_proc, PARTNER_EDIT_SUBCLASS, 0);
    SetWindowSubclass(partner_password, partner_edit_proc, PARTNER_EDIT_SUBCLASS, 0);
    EnableWindow(control(state, ID_COPY_ID), FALSE);
    return true;
}

// --- the list ---------------------------------------------------------------

// Rebuilds the items from ui.saved_list; every entry's ui.reachability starts over
// as unknown until the poller's next round.
void refresh_list(MainWindowState& state)
{
    HWND list = control(state, ID_SAVED_LIST);
    EnterCriticalSection(&ui.saved_list_lock);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    // Without LBS_HASSTRINGS an item is just its data: the entry's index.
    for (std::size_t i = 0; i < ui.saved_list.size(); ++i)
        SendMessageW(list, LB_ADDSTRING, 0, LPARAM(i));
    ui.reachability.assign(ui.saved_list.size(), -1);
    const bool empty = ui.saved_list.empty();
    LeaveCriticalSection(&ui.saved_list_lock);
    // An empty list shows the painted hint behind it instead.
    ShowWindow(list, empty ? SW_HIDE : SW_SHOW);
    InvalidateRect(state.window, nullptr, FALSE);
}

// The selected saved computer's index, or -1.
int selected_entry(const MainWindowState& state)
{
    HWND list = control(state, ID_SAVED_LIST);
    const int index = list ? int(SendMessageW(list, LB_GETCURSEL, 0, 0)) : -1;
    return index >= 0 && index < int(ui.saved_list.size()) ? index : -1;
}

void connect_to_selected(MainWindowState& state, int index)
{
    if (index < 0) {
        show_message_box(state.window, CHOOSE_COMPUTER_TEXT, MB_ICONINFORMATION);
        return;
    }
    // A copy: the password prompt runs a message loop in which the entry
    // could be deleted from the list.
    const ServerEntry entry = ui.saved_list[std::size_t(index)];
    launch_viewer(entry);
}

void save_and_refresh(MainWindowState& state)
{
    save_saved_list();
    refresh_list(state);
}

void add_computer(MainWindowState& state)
{
    ServerEntry entry;
    if (!edit_computer(state.window, entry))
        return;
    EnterCriticalSection(&ui.saved_list_lock);
    ui.saved_list.push_back(entry);
    LeaveCriticalSection(&ui.saved_list_lock);
    save_and_refresh(state);
}

void edit_selected(MainWindowState& state, int index)
{
    if (index >= 0 && edit_computer(state.window, ui.saved_list[std::size_t(index)]))
        save_and_refresh(state);
}

void delete_selected(MainWindowState& state, int index)
{
    if (index < 0 ||
        show_message_box(state.window, DELETE_QUESTION, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    EnterCriticalSection(&ui.saved_list_lock);
    if (std::size_t(index) < ui.saved_list.size())
        ui.saved_list.erase(ui.saved_list.begin() + index);
    LeaveCriticalSection(&ui.saved_list_lock);
    save_and_refresh(state);
}

// --- this computer and the partner ------------------------------------------

void copy_value(const MainWindowState& state, int field_id)
{
    put_clipboard_text(state.window, window_text(control(state, field_id), VALUE_READ_CHARS));
}

void connect_by_id(MainWindowState& state)
{
    const std::wstring id = window_text(control(state, ID_PARTNER_ID), VALUE_READ_CHARS);
    char password[PARTNER_PASSWORD_MAX_CHARS + 1] = {};
    GetWindowTextA(control(state, ID_PARTNER_PASSWORD), password, sizeof password);
    if (id.empty()) {
        show_message_box(state.window, ENTER_PARTNER_ID_TEXT, MB_ICONINFORMATION);
        return;
    }
    if (agent.config.relay_host.empty()) {
        show_message_box(state.window, NO_RELAY_TEXT, MB_ICONWARNING);
        return;
    }
    // A one-off entry through our own relay; nothing is saved.
    ServerEntry entry;
    entry.password = password;
    entry.relay_host = ansi_to_wide(agent.config.relay_host).substr(0, 128);
    entry.relay_port = agent.config.relay_port;
    entry.relay_id = id;
    launch_viewer(entry);
}

void toggle_accepting(MainWindowState& state)
{
    const bool accepting = !agent.config.accept_connections;
    agent.config.accept_connections = accepting;
    if (!agent.config.ini_path.empty())
        write_server_ini_key(agent.config.ini_path, "accept_connections", accepting ? "1" : "0");
    HWND button = control(state, ID_TOGGLE_ACCEPT);
    SetWindowTextW(button, toggle_text(accepting));
    set_button_kind(button, toggle_kind(accepting));
    update_tray();
    if (ui.banner_window)
        update_banner_visibility();
    InvalidateRect(state.window, nullptr, FALSE);
}

void ask_to_exit(MainWindowState& state)
{
    if (show_message_box(state.window, EXIT_QUESTION, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (ui.tray_window)
        PostMessageW(ui.tray_window, WM_COMMAND, TRAY_EXIT, 0);
    else
        PostQuitMessage(0);
}

// Shows the agent's ID and password as they are now; other threads change them.
void on_timer(MainWindowState& state)
{
    const std::wstring id = utf8_to_wide(agent.relay_assigned_id.get()).substr(0, VALUE_READ_CHARS);
    const std::wstring password =
        utf8_to_wide(agent.config.current_password.get()).substr(0, VALUE_READ_CHARS);
    const std::pair<int, const std::wstring*> values[] = {{ID_OWN_ID, &id},
                                                          {ID_OWN_PASSWORD, &password}};
    for (const auto& [field_id, value] : values) {
        HWND field = control(state, field_id);
        const std::wstring shown = value->empty() ? EMPTY_VALUE : *value;
        // Setting the same text again would move the caret and flicker.
        if (window_text(field, VALUE_READ_CHARS) != shown)
            SetWindowTextW(field, shown.c_str());
    }
    HWND copy_id = control(state, ID_COPY_ID);
    if (bool(IsWindowEnabled(copy_id)) != !id.empty())
        EnableWindow(copy_id, !id.empty());
    const RECT header = to_rect(HEADER_STRIP);
    InvalidateRect(state.window, &header, FALSE);
}

bool is_value_field(int id)
{
    return id == ID_PARTNER_ID || id == ID_PARTNER_PASSWORD || id == ID_OWN_ID ||
           id == ID_OWN_PASSWORD;
}

void on_command(MainWindowState& state, int id, int code, HWND from)
{
    if (code == EN_SETFOCUS || code == EN_KILLFOCUS) {
        if (is_value_field(id)) {
            state.focused_field = code == EN_SETFOCUS ? from : nullptr;
            InvalidateRect(state.window, nullptr, FALSE);
        }
        return;
    }
    const int index = selected_entry(state);
    switch (id) {
    case ID_PARTNER_CONNECT:
        connect_by_id(state);
        break;
    case ID_COPY_ID:
        copy_value(state, ID_OWN_ID);
        break;
    case ID_COPY_PASSWORD:
        copy_value(state, ID_OWN_PASSWORD);
        break;
    case ID_TOGGLE_ACCEPT:
        toggle_accepting(state);
        break;
    case ID_EXIT:
        ask_to_exit(state);
        break;
    case ID_SAVED_CONNECT:
        connect_to_selected(state, index);
        break;
    case ID_SAVED_LIST:
        if (code == LBN_DBLCLK)
            connect_to_selected(state, index);
        break;
    case ID_SAVED_ADD:
        add_computer(state);
        break;
    case ID_SAVED_EDIT:
        edit_selected(state, index);
        break;
    case ID_SAVED_DELETE:
        delete_selected(state, index);
        break;
    }
}

bool on_create(MainWindowState& state)
{
    for (int i = 0; i < MAIN_FONT_COUNT; ++i) {
        const FontSize size = main_font_size(MainFont(i));
        state.fonts[std::size_t(i)] = create_ui_font(size.height, size.weight);
    }
    state.field_brush = CreateSolidBrush(to_colorref(Colour::Field));
    if (!create_controls(state))
        return false;
    ui.main_window = state.window;
    init_saved_list_lock();
    ui.saved_list_path = default_saved_list_path();
    load_saved_list();
    refresh_list(state);
    on_timer(state);  // the password is known at once: show it without a second's wait
    SetTimer(state.window, REFRESH_TIMER, REFRESH_PERIOD_MS, nullptr);
    state.created = true;
    return true;
}

void on_destroy(MainWindowState& state)
{
    KillTimer(state.window, REFRESH_TIMER);
    if (ui.main_window == state.window)
        ui.main_window = nullptr;
    // A window that never finished its creation, or one the tray is
    // re-creating, does not end the program.
    if (state.created && !ui.rebuilding)
        PostQuitMessage(0);
}

LRESULT on_draw_item(const MainWindowState& state, const DRAWITEMSTRUCT& item)
{
    if (item.CtlType == ODT_LISTBOX) {
        paint_saved_item(item, state);
    } else {
        // The copy buttons sit in the grey value boxes, the others on a card.
        const bool in_field = item.CtlID == ID_COPY_ID || item.CtlID == ID_COPY_PASSWORD;
        paint_owner_button(&item, in_field ? Colour::Field : Colour::Card);
    }
    return TRUE;
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        auto* created = new MainWindowState;
        created->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(created));
    }
    MainWindowState* state = state_of(window);
    if (!state)
        return DefWindowProcW(window, message, wparam, lparam);

    switch (message) {
    case WM_CREATE:
        return on_create(*state) ? 0 : -1;
    case WM_PAINT:
        paint_main_window(window, *state);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the buffered paint covers every pixel
    case WM_DRAWITEM:
        return on_draw_item(*state, *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
        if (item->CtlType != ODT_LISTBOX)
            break;
        item->itemHeight = LIST_ITEM_HEIGHT;
        return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSTATIC:
        SetBkColor(HDC(wparam), to_colorref(Colour::Field));
        SetTextColor(HDC(wparam), to_colorref(Colour::Ink));
        return LRESULT(state->field_brush);
    case WM_COMMAND:
        on_command(*state, LOWORD(wparam), HIWORD(wparam), HWND(lparam));
        return 0;
    case WM_TIMER:
        if (wparam == REFRESH_TIMER)
            on_timer(*state);
        return 0;
    case WM_REACHABILITY: {
        InvalidateRect(control(*state, ID_SAVED_LIST), nullptr, FALSE);
        const RECT footer = to_rect(FOOTER_STRIP);
        InvalidateRect(window, &footer, FALSE);
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_MINIMIZE) {
            show_tray_balloon_once();  // hides the window to the tray
            return 0;
        }
        break;
    case WM_CLOSE:
        if (agent.config.close_to_tray) {
            show_tray_balloon_once();  // hides the window to the tray
            return 0;
        }
        break;  // destroys the window, which ends the program
    case WM_DESTROY:
        on_destroy(*state);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete state;
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool register_main_class(HINSTANCE instance)
{
    static const bool registered = [instance] {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = main_window_proc;
        cls.hInstance = instance;
        cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        cls.hbrBackground = CreateSolidBrush(to_colorref(Colour::White));
        cls.lpszClassName = CLASS_NAME;
        return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

void set_icons(HWND window, HINSTANCE instance)
{
    const std::pair<WPARAM, int> sizes[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
    for (const auto& [which, metric] : sizes) {
        const int size = GetSystemMetrics(metric);
        auto icon = HICON(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVANE_IDLE), IMAGE_ICON, size,
                                     size, LR_SHARED));
        if (!icon)
            icon = LoadIconW(nullptr, IDI_APPLICATION);
        SendMessageW(window, WM_SETICON, which, LPARAM(icon));
    }
}

}  // namespace

HWND create_main_window(HINSTANCE instance)
{
    if (!register_main_class(instance))
        return nullptr;
    const RECT outer = centred_window_rect(MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT, WINDOW_STYLE, 0);
    HWND window = CreateWindowExW(0, CLASS_NAME, MAIN_TITLE, WINDOW_STYLE, outer.left, outer.top,
                                  outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) {
        report_win32_failure("CreateWindowExW");
        return nullptr;
    }
    set_icons(window, instance);
    if (!agent.launched_by_service)
        ShowWindow(window, SW_SHOW);
    return window;
}
