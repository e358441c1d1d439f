#pragma once
// One saved computer, and the rules of the edit and password dialogs that
// need no Windows: the form's fields and texts, port text, validation.
#include <array>
#include <cstdint>
#include <string>

#include "app/agent_config.h"
#include "ui/toolkit.h"

// Reached directly by host and port, or through a relay by ID when
// relay_host is set (even if a host is filled in too).
struct ServerEntry {
    std::wstring name;
    std::wstring host;  // file key "ip"
    std::uint16_t port = DEFAULT_AGENT_PORT;
    std::string
        password;  // ANSI code page, plain while in memory; empty: asked at every connection
    std::wstring relay_host;
    std::uint16_t relay_port = DEFAULT_RELAY_PORT;
    std::wstring relay_id;
    // Protected text that does not open for this Windows user (another user
    // wrote it): written back as it was, so that user keeps the password,
    // until a password is typed for the entry here.
    std::wstring kept_pw_enc;

    bool operator==(const ServerEntry&) const = default;
};

// What a computer is called in a password prompt: its name, else its relay
// ID when it goes through a relay, else its host.
std::wstring computer_label(const ServerEntry& entry);
// "Пароль — " and the label.
std::wstring password_prompt_title(const ServerEntry& entry);

// A new entry has neither host nor relay ID yet.
bool is_new_entry(const ServerEntry& entry);
const wchar_t* edit_dialog_title(bool add_mode);

// A port typed into the form. Empty or 0 gives the default; anything but
// digits, or a value above 65535, is no port.
struct PortText {
    bool valid;
    std::uint16_t port;
};
PortText parse_port_text(const std::wstring& text, std::uint16_t default_port);

// The text without blanks at either end: a pasted address often has some.
std::wstring trim_blanks(const std::wstring& text);

// The form as typed, before it is stored into an entry.
struct ComputerForm {
    std::wstring name, host, port, relay_host, relay_port, relay_id;
};
// The message that keeps the dialog open, or null when the form is valid.
const wchar_t* computer_form_error(const ComputerForm& form);

// Control ids of the edit dialog (the password dialog uses PASSWORD_EDIT_ID).
enum : int {
    NAME_EDIT_ID = 101,
    HOST_EDIT_ID = 102,
    PORT_EDIT_ID = 103,
    PASSWORD_EDIT_ID = 104,
    RELAY_HOST_EDIT_ID = 105,
    RELAY_PORT_EDIT_ID = 106,
    RELAY_ID_EDIT_ID = 107,
};

enum class FieldKind { Text, Number, Password };

// One edit and the field box drawn around it; max_chars is what the store
// keeps of it (a password counts bytes in the ANSI code page).
struct FormField {
    int id;
    int box_left, box_top, box_width;
    FieldKind kind;
    int max_chars;
    UiRect box() const
    {
        return {box_left, box_top, box_left + box_width, box_top + FIELD_BOX_HEIGHT};
    }
};

enum class FormFont { Title, Label, Hint };

struct FormText {
    const wchar_t* text;
    UiRect rect;
    FormFont font;
    Colour colour;
    bool centred;
};

struct FormButton {
    int id;
    const wchar_t* text;
    UiRect rect;
    ButtonKind kind;
};

constexpr int EDIT_DIALOG_WIDTH = 422;
constexpr int EDIT_DIALOG_HEIGHT = 590;
constexpr int PASSWORD_DIALOG_WIDTH = 360;
constexpr int PASSWORD_DIALOG_HEIGHT = 220;
constexpr int MAX_PASSWORD_BYTES = 255;

const std::array<FormField, 7>& edit_dialog_fields();
// The title text is the dialog's caption, so it comes first and is filled in
// by the caller.
std::array<FormText, 10> edit_dialog_texts(bool add_mode);
const std::array<FormButton, 2>& edit_dialog_buttons();
UiRect edit_dialog_card();

const FormField& password_dialog_field();
const std::array<FormText, 2>& password_dialog_texts();
const std::array<FormButton, 2>& password_dialog_buttons();
UiRect password_dialog_card();
