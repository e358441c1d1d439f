#include "ui/dialog_form_win.h"

#include "app/win_util.h"
#include "ui/toolkit_win.h"

namespace {
constexpr DWORD FORM_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD FORM_EX_STYLE = WS_EX_DLGMODALFRAME;
} // namespace

bool register_form_class(const wchar_t* class_name, WNDPROC procedure)
{
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = procedure;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = dialog_resources().white_brush;
    cls.lpszClassName = class_name;
    return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND create_form_window(const wchar_t* class_name, const wchar_t* caption, int client_width,
                        int client_height, HWND owner, void* state)
{
    const RECT outer = centred_window_rect(client_width, client_height, FORM_STYLE, FORM_EX_STYLE);
    HWND form = CreateWindowExW(FORM_EX_STYLE, class_name, caption, FORM_STYLE, outer.left,
                                outer.top, outer.right - outer.left, outer.bottom - outer.top,
                                owner, nullptr, GetModuleHandleW(nullptr), state);
    if (!form)
        report_win32_failure("CreateWindowExW");
    return form;
}

HWND create_form_edit(HWND form, const FormField& field)
{
    DWORD style = WS_TABSTOP;  // Tab walks the fields, as in any form
    if (field.kind == FieldKind::Number)
        style |= ES_NUMBER;
    else if (field.kind == FieldKind::Password)
        style |= ES_PASSWORD;
    HWND edit = create_field_edit(form, field.box_left, field.box_top, field.box_width,
                                  dialog_resources().edit, style, field.id);
    if (edit)
        SendMessageW(edit, EM_LIMITTEXT, field.max_chars, 0);
    return edit;
}

void create_form_buttons(HWND form, std::span<const FormButton> buttons)
{
    for (const FormButton& b : buttons)
        create_owner_button(form, b.text, b.rect.left, b.rect.top, b.rect.width(), b.rect.height(),
                            b.id, dialog_resources().button, b.kind);
}

std::wstring edit_text(HWND edit, int max_chars)
{
    std::wstring text(std::size_t(max_chars) + 1, L'\0');
    text.resize(GetWindowTextW(edit, text.data(), max_chars + 1));
    return text;
}

std::string edit_password(HWND edit)
{
    std::string password = wide_to_ansi(edit_text(edit, MAX_PASSWORD_BYTES));
    if (password.size() > MAX_PASSWORD_BYTES)
        password.resize(MAX_PASSWORD_BYTES);
    return password;
}

bool run_form(HWND form, FormState& state)
{
    if (state.owner)
        EnableWindow(state.owner, FALSE);
    ShowWindow(form, SW_SHOW);
    SetForegroundWindow(form);
    run_modal_loop(form, state.done);
    if (state.owner) {
        EnableWindow(state.owner, TRUE);
        SetForegroundWindow(state.owner);
    }
    return state.result;
}

void finish_form(HWND form, FormState& state, bool result)
{
    state.result = result;
    state.done = true;
    // Enabled before the form goes, so that activation returns to the owner
    // rather than to some other application's window.
    if (state.owner)
        EnableWindow(state.owner, TRUE);
    DestroyWindow(form);
}

void* form_state(HWND form, UINT message, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(form, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    void* state = reinterpret_cast<void*>(GetWindowLongPtrW(form, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(form, GWLP_USERDATA, 0);
        return nullptr;
    }
    return state;
}

namespace {

// Focus notifications are no commands: they move the accent border.
bool track_edit_focus(HWND form, FormState& state, WPARAM wparam, LPARAM lparam)
{
    const WORD code = HIWORD(wparam);
    if (code != EN_SETFOCUS && code != EN_KILLFOCUS)
        return false;
    state.focused_edit = code == EN_SETFOCUS ? reinterpret_cast<HWND>(lparam) : nullptr;
    InvalidateRect(form, nullptr, FALSE);
    return true;
}

// Leaving the form remembers which of its controls had the focus; coming
// back gives it back, where a plain window would take the focus itself.
void keep_form_focus(HWND form, FormState& state, WPARAM wparam)
{
    if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(form, focus))
            state.last_focus = focus;
    } else if (state.last_focus && IsWindow(state.last_focus)) {
        SetFocus(state.last_focus);
    }
}

} // namespace

bool handle_form_message(HWND form, FormState& state, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result)
{
    result = 0;
    switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        SetBkColor(HDC(wparam), to_colorref(Colour::Field));
        SetTextColor(HDC(wparam), to_colorref(Colour::Ink));
        result = LRESULT(dialog_resources().field_brush);
        return true;
    case WM_DRAWITEM:
        // The buttons sit on the card: their corners show its colour.
        paint_owner_button(reinterpret_cast<DRAWITEMSTRUCT*>(lparam), Colour::Card);
        result = TRUE;
        return true;
    case WM_ERASEBKGND:
        result = 1;  // the buffered paint covers every pixel
        return true;
    case WM_COMMAND:
        return track_edit_focus(form, state, wparam, lparam);
    case WM_ACTIVATE:
        keep_form_focus(form, state, wparam);
        return true;
    case WM_CLOSE:
        finish_form(form, state, false);
        return true;
    case WM_DESTROY:
        state.done = true;  // destroyed from outside (with its owner): the loop ends
        return true;
    }
    return false;
}

namespace {

HFONT form_font(FormFont font)
{
    const DialogResources& r = dialog_resources();
    switch (font) {
    case FormFont::Title:
        return r.title;
    case FormFont::Hint:
        return r.hint;
    case FormFont::Label:
    default:
        return r.label;
    }
}

} // namespace

void paint_form(HWND form, const UiRect& card, std::span<const FormField> fields,
                std::span<const FormText> texts, HWND focused_edit)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(form, &ps);
    RECT client;
    GetClientRect(form, &client);
    OffscreenBuffer buffer(dc, client.right, client.bottom);
    if (buffer.dc) {
        fill_solid(buffer.dc, client, Colour::White);
        {
            Canvas canvas(buffer.dc);
            draw_card(canvas.graphics, to_rect(card), 10.0f);
            for (const FormField& field : fields) {
                const RECT box = to_rect(field.box());
                const bool focused = focused_edit && GetDlgItem(form, field.id) == focused_edit;
                fill_rounded_rect(canvas.graphics, box, 6.0f, Colour::Field);
                stroke_rounded_rect(canvas.graphics, box, 6.0f,
                                    focused ? Colour::Accent : Colour::Line, focused ? 1.6f : 1.0f);
            }
        }
        // A font wider than Segoe UI (a fallback) cuts a label visibly.
        for (const FormText& t : texts)
            draw_ui_text(buffer.dc, t.text, to_rect(t.rect), form_font(t.font), t.colour,
                         (t.centred ? DT_CENTER : DT_LEFT) | DT_SINGLELINE | DT_NOPREFIX |
                             DT_END_ELLIPSIS);
        buffer.copy_to(dc, 0, 0);
    }
    EndPaint(form, &ps);
}
