#include "ui/message_box.h"

#include <string>

#include "app/agent_log.h"
#include "app/win_util.h"
#include "ui/toolkit_win.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneMsgBox";
constexpr DWORD BOX_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD BOX_EX_STYLE = WS_EX_DLGMODALFRAME;
// The message is a static control, so that screen readers and tools that read
// dialogs find it as they do in the system's own box.
constexpr int MESSAGE_TEXT_ID = 100;
constexpr UINT MESSAGE_FORMAT = DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX;

struct OwnedFont {
    explicit OwnedFont(HFONT font) : handle(font) {}
    ~OwnedFont()
    {
        if (handle)
            DeleteObject(handle);
    }
    OwnedFont(const OwnedFont&) = delete;
    OwnedFont& operator=(const OwnedFont&) = delete;
    HFONT handle;
};

// Lives on the caller's stack while one box is up.
struct MessageBoxState {
    std::wstring text;
    std::uint32_t flags = 0;
    bool yes_no = false;
    int result = MSGBOX_OK;
    bool done = false;
    RECT text_rect{};

    HWND owner = nullptr;
    MessageBoxLayout layout{};
    HFONT text_font = nullptr;
    HFONT glyph_font = nullptr;
    HFONT button_font = nullptr;
};

// The surface behind the message text; made once, like the class brush.
HBRUSH card_brush()
{
    static const HBRUSH brush = CreateSolidBrush(to_colorref(Colour::Card));
    return brush;
}

LRESULT CALLBACK message_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam);

bool register_message_box_class()
{
    static const bool registered = [] {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = message_box_proc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        cls.hbrBackground = CreateSolidBrush(to_colorref(Colour::White));
        cls.lpszClassName = CLASS_NAME;
        return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

int measure_text_height(const std::wstring& text, HFONT font)
{
    HDC dc = GetDC(nullptr);
    if (!dc)
        return 0;
    HGDIOBJ old = SelectObject(dc, font);
    RECT rect{0, 0, MSGBOX_TEXT_WIDTH, 0};
    DrawTextW(dc, text.c_str(), -1, &rect, MESSAGE_FORMAT | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return rect.bottom - rect.top;
}

void create_controls(HWND box, const MessageBoxState& state)
{
    const RECT& t = state.text_rect;
    HWND text = CreateWindowExW(0, L"STATIC", state.text.c_str(),
                                WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, t.left, t.top,
                                t.right - t.left, t.bottom - t.top, box,
                                reinterpret_cast<HMENU>(INT_PTR(MESSAGE_TEXT_ID)),
                                GetModuleHandleW(nullptr), nullptr);
    if (text)
        SendMessageW(text, WM_SETFONT, WPARAM(state.text_font), FALSE);
    for (int i = 0; i < state.layout.button_count; ++i) {
        const MessageBoxButton& b = state.layout.buttons[i];
        create_owner_button(box, b.text, b.rect.left, b.rect.top, b.rect.width(),
                            b.rect.height(), b.id, state.button_font, b.kind);
    }
}

void paint_message_box(HWND box, const MessageBoxState& state)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(box, &ps);
    RECT client;
    GetClientRect(box, &client);
    OffscreenBuffer buffer(dc, client.right, client.bottom);
    if (buffer.dc) {
        fill_solid(buffer.dc, client, Colour::White);
        const RECT icon = to_rect(state.layout.icon);
        {
            Canvas canvas(buffer.dc);
            draw_card(canvas.graphics, to_rect(state.layout.card), 10.0f);
            fill_circle(canvas.graphics, float(icon.left), float(icon.top),
                        float(icon.right - icon.left), message_box_icon_colour(state.flags));
        }
        draw_ui_text(buffer.dc, message_box_glyph(state.flags), icon, state.glyph_font,
                     Colour::White, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        buffer.copy_to(dc, 0, 0);
    }
    EndPaint(box, &ps);
}

void finish(HWND box, MessageBoxState& state, int result)
{
    state.result = result;
    state.done = true;
    // Enabled before the box goes, so that activation returns to the owner
    // rather than to some other application's window.
    if (state.owner)
        EnableWindow(state.owner, TRUE);
    DestroyWindow(box);
}

LRESULT CALLBACK message_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(box, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<MessageBoxState*>(GetWindowLongPtrW(box, GWLP_USERDATA));
    if (!state)
        return DefWindowProcW(box, message, wparam, lparam);

    switch (message) {
    case WM_CREATE:
        create_controls(box, *state);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the buffered paint covers every pixel
    case WM_PAINT:
        paint_message_box(box, *state);
        return 0;
    case WM_CTLCOLORSTATIC:
        SetTextColor(HDC(wparam), to_colorref(Colour::Ink));
        SetBkColor(HDC(wparam), to_colorref(Colour::Card));
        return LRESULT(card_brush());
    case WM_DRAWITEM:
        // The buttons sit on the card, so their corners show the card's colour.
        paint_owner_button(reinterpret_cast<DRAWITEMSTRUCT*>(lparam), Colour::Card);
        return TRUE;
    case WM_COMMAND:
        if (int result = message_box_command_result(LOWORD(wparam)))
            finish(box, *state, result);
        return 0;
    case WM_CLOSE:
        finish(box, *state, message_box_close_result(state->yes_no));
        return 0;
    case WM_DESTROY:
        // Destroyed from outside (with its owner, say): the loop must end too.
        state->done = true;
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(box, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(box, message, wparam, lparam);
}

HWND create_message_box(MessageBoxState& state)
{
    const RECT outer = centred_window_rect(state.layout.client_width, state.layout.client_height,
                                           BOX_STYLE, BOX_EX_STYLE);
    return CreateWindowExW(BOX_EX_STYLE, CLASS_NAME, L"Orvane", BOX_STYLE, outer.left, outer.top,
                           outer.right - outer.left, outer.bottom - outer.top, state.owner, nullptr,
                           GetModuleHandleW(nullptr), &state);
}

} // namespace

int show_message_box(HWND owner, const wchar_t* text, UINT flags)
{
    MessageBoxState state;
    state.text = text ? text : L"";
    state.flags = flags;
    state.yes_no = message_box_yes_no(flags);
    state.owner = owner;

    OwnedFont text_font(create_ui_font(15, 400));
    OwnedFont glyph_font(create_ui_font(22, 700));
    OwnedFont button_font(create_ui_font(15, 600));
    state.text_font = text_font.handle;
    state.glyph_font = glyph_font.handle;
    state.button_font = button_font.handle;
    state.layout = message_box_layout(measure_text_height(state.text, state.text_font),
                                      state.yes_no);
    state.text_rect = to_rect(state.layout.text);

    const bool registered = register_message_box_class();
    HWND box = registered ? create_message_box(state) : nullptr;
    if (!box) {
        // Nobody sees the box: the console at least gets its text.
        report_win32_failure(registered ? "CreateWindowExW (OrvaneMsgBox)" : "RegisterClassExW");
        log_error("[!] %s\n", wide_to_utf8(state.text).c_str());
        return MSGBOX_OK;
    }
    if (owner)
        EnableWindow(owner, FALSE);
    ShowWindow(box, SW_SHOW);
    run_modal_loop(box, state.done);
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    return state.result;
}
