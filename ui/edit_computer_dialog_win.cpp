#include "ui/edit_computer_dialog.h"

#include <array>

#include "app/win_util.h"
#include "resources/resource_ids.h"
#include "ui/dialog_form_win.h"
#include "ui/message_box.h"
#include "ui/ui_state.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"OVEditDlg";

// Lives on the caller's stack while the dialog runs.
struct EditDialogState {
    FormState form;
    ServerEntry* entry = nullptr;  // the caller's new entry, or the list's own
    bool add_mode = false;
    std::array<HWND, 7> edits{};  // in the order of edit_dialog_fields()
};

HWND field_edit(const EditDialogState& state, int id)
{
    const auto& fields = edit_dialog_fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].id == id)
            return state.edits[i];
    return nullptr;
}

std::wstring field_text(const EditDialogState& state, int id)
{
    for (const FormField& f : edit_dialog_fields())
        if (f.id == id)
            return edit_text(field_edit(state, id), f.max_chars);
    return {};
}

void set_icons(HWND dialog)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    auto icon = [instance](int size) {
        return reinterpret_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORVANE_IDLE),
                                                  IMAGE_ICON, size, size, LR_SHARED));
    };
    SendMessageW(dialog, WM_SETICON, ICON_BIG, LPARAM(icon(GetSystemMetrics(SM_CXICON))));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, LPARAM(icon(GetSystemMetrics(SM_CXSMICON))));
}

void fill_edits(const EditDialogState& state)
{
    const ServerEntry& e = *state.entry;
    const std::pair<int, std::wstring> values[] = {
        {NAME_EDIT_ID, e.name},
        {HOST_EDIT_ID, e.host},
        {PORT_EDIT_ID, std::to_wstring(e.port)},
        {PASSWORD_EDIT_ID, ansi_to_wide(e.password)},
        {RELAY_HOST_EDIT_ID, e.relay_host},
        {RELAY_PORT_EDIT_ID, std::to_wstring(e.relay_port)},
        {RELAY_ID_EDIT_ID, e.relay_id},
    };
    for (const auto& [id, text] : values)
        SetWindowTextW(field_edit(state, id), text.c_str());
}

void on_create(HWND dialog, EditDialogState& state)
{
    set_icons(dialog);
    const auto& fields = edit_dialog_fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        state.edits[i] = create_form_edit(dialog, fields[i]);
    create_form_buttons(dialog, edit_dialog_buttons());
    fill_edits(state);
    state.form.last_focus = state.edits[0];
    SetFocus(state.edits[0]);
}

// Stores the form into the entry; the poller may be copying the list.
void store(const ComputerForm& form, HWND password_edit, ServerEntry& e)
{
    const std::string password = edit_password(password_edit);
    // Typing over a password that did not open here replaces it; leaving the
    // field alone keeps it for the user who can open it.
    const bool password_edited =
        password != e.password || SendMessageW(password_edit, EM_GETMODIFY, 0, 0) != 0;
    init_saved_list_lock();
    EnterCriticalSection(&ui.saved_list_lock);
    e.name = form.name;
    e.host = form.host;
    e.port = parse_port_text(form.port, DEFAULT_AGENT_PORT).port;
    if (password_edited) {
        e.password = password;
        e.kept_pw_enc.clear();
    }
    e.relay_host = form.relay_host;
    e.relay_port = parse_port_text(form.relay_port, DEFAULT_RELAY_PORT).port;
    e.relay_id = form.relay_id;
    LeaveCriticalSection(&ui.saved_list_lock);
}

void on_ok(HWND dialog, EditDialogState& state)
{
    ComputerForm form;
    form.name = field_text(state, NAME_EDIT_ID);
    form.host = trim_blanks(field_text(state, HOST_EDIT_ID));
    form.port = field_text(state, PORT_EDIT_ID);
    form.relay_host = trim_blanks(field_text(state, RELAY_HOST_EDIT_ID));
    form.relay_port = field_text(state, RELAY_PORT_EDIT_ID);
    form.relay_id = trim_blanks(field_text(state, RELAY_ID_EDIT_ID));
    if (const wchar_t* error = computer_form_error(form)) {
        show_message_box(dialog, error, MB_ICONWARNING);
        return;  // everything typed stays
    }
    store(form, field_edit(state, PASSWORD_EDIT_ID), *state.entry);
    finish_form(dialog, state.form, true);
}

void on_command(HWND dialog, EditDialogState& state, int id)
{
    if (id == IDOK)
        on_ok(dialog, state);
    else if (id == IDCANCEL)
        finish_form(dialog, state.form, false);
}

void on_paint(HWND dialog, const EditDialogState& state)
{
    const auto texts = edit_dialog_texts(state.add_mode);
    paint_form(dialog, edit_dialog_card(), edit_dialog_fields(), texts, state.form.focused_edit);
}

} // namespace

bool edit_computer(HWND owner, ServerEntry& entry)
{
    static const bool registered =
        register_form_class(CLASS_NAME, form_window_proc<EditDialogState>);
    EditDialogState state;
    state.form.owner = owner;
    state.entry = &entry;
    state.add_mode = is_new_entry(entry);
    HWND dialog = registered
                      ? create_form_window(CLASS_NAME, edit_dialog_title(state.add_mode),
                                           EDIT_DIALOG_WIDTH, EDIT_DIALOG_HEIGHT, owner, &state)
                      : nullptr;
    return dialog && run_form(dialog, state.form);
}
