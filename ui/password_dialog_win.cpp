#include "ui/password_dialog.h"

#include "ui/dialog_form_win.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"OVPwDlg";

// Lives on the caller's stack while the dialog runs.
struct PasswordDialogState {
    FormState form;
    std::string* output = nullptr;  // the caller's
    HWND edit = nullptr;
};

void on_create(HWND dialog, PasswordDialogState& state)
{
    state.edit = create_form_edit(dialog, password_dialog_field());
    create_form_buttons(dialog, password_dialog_buttons());
    state.form.last_focus = state.edit;
    SetFocus(state.edit);
}

void on_command(HWND dialog, PasswordDialogState& state, int id)
{
    if (id == IDOK) {
        *state.output = edit_password(state.edit);
        finish_form(dialog, state.form, true);
    } else if (id == IDCANCEL) {
        finish_form(dialog, state.form, false);
    }
}

void on_paint(HWND dialog, const PasswordDialogState& state)
{
    const FormField& field = password_dialog_field();
    paint_form(dialog, password_dialog_card(), {&field, 1}, password_dialog_texts(),
               state.form.focused_edit);
}

} // namespace

bool ask_password(const std::wstring& title, std::string& password)
{
    static const bool registered =
        register_form_class(CLASS_NAME, form_window_proc<PasswordDialogState>);
    PasswordDialogState state;
    state.output = &password;
    HWND dialog = registered ? create_form_window(CLASS_NAME, title.c_str(), PASSWORD_DIALOG_WIDTH,
                                                  PASSWORD_DIALOG_HEIGHT, nullptr, &state)
                             : nullptr;
    return dialog && run_form(dialog, state.form);
}
