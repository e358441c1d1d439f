#pragma once
// What the edit-computer and password dialogs share: a modal popup in the
// toolkit's look with field edits in rounded boxes, labels and two buttons,
// run by its own message loop.
#include <windows.h>

#include <span>
#include <string>

#include "ui/server_entry.h"

// The part of a dialog's state record that the shared handling uses.
struct FormState {
    bool result = false;
    bool done = false;
    HWND owner = nullptr;         // disabled while the form runs
    HWND focused_edit = nullptr;  // its field box is drawn in the accent colour
    HWND last_focus = nullptr;    // given the focus back when the form is activated
};

// Registers the class once per process: arrow cursor, the dialogs' white brush.
bool register_form_class(const wchar_t* class_name, WNDPROC procedure);
// A popup of the given client size centred on the primary screen, owned by
// `owner`, with `state` (which starts with its FormState) as creation
// parameter; null on failure.
HWND create_form_window(const wchar_t* class_name, const wchar_t* caption, int client_width,
                        int client_height, HWND owner, void* state);
// Shows the form and runs its loop until it is finished; the owner is
// disabled meanwhile and brought back to the front after. The form's result.
bool run_form(HWND form, FormState& state);
// Ends the form with this result.
void finish_form(HWND form, FormState& state, bool result);

// The record given at creation, from WM_NCCREATE until WM_NCDESTROY.
void* form_state(HWND form, UINT message, LPARAM lparam);
// Handling both dialogs share: edit colours, button painting, no erasing,
// focus notifications, activation, close (a cancel) and destruction. True
// when the message was handled, with its result in `result`.
bool handle_form_message(HWND form, FormState& state, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result);

// The window procedure of a form whose state record is `State` (with its
// FormState as member `form`): the shared handling first, then the dialog's
// own on_create, on_paint and on_command, found next to `State`.
template <typename State>
LRESULT CALLBACK form_window_proc(HWND form, UINT message, WPARAM wparam, LPARAM lparam)
{
    auto* state = static_cast<State*>(form_state(form, message, lparam));
    if (!state)
        return DefWindowProcW(form, message, wparam, lparam);
    LRESULT result = 0;
    if (handle_form_message(form, state->form, message, wparam, lparam, result))
        return result;
    switch (message) {
    case WM_CREATE:
        on_create(form, *state);
        return 0;
    case WM_PAINT:
        on_paint(form, *state);
        return 0;
    case WM_COMMAND:
        on_command(form, *state, LOWORD(wparam));
        return 0;
    }
    return DefWindowProcW(form, message, wparam, lparam);
}

// The field's edit: a tab stop that takes no more than the store keeps.
HWND create_form_edit(HWND form, const FormField& field);
void create_form_buttons(HWND form, std::span<const FormButton> buttons);
// The edit's text, at most max_chars characters.
std::wstring edit_text(HWND edit, int max_chars);
// A password edit's text in the ANSI code page, at most MAX_PASSWORD_BYTES.
std::string edit_password(HWND edit);

// Double-buffered: the white ground, the card, the field boxes (the focused
// one in the accent colour) and the texts.
void paint_form(HWND form, const UiRect& card, std::span<const FormField> fields,
                std::span<const FormText> texts, HWND focused_edit);
