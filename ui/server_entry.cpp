#include "ui/server_entry.h"

std::wstring computer_label(const ServerEntry& entry)
{
    if (!entry.name.empty())
        return entry.name;
    return entry.relay_host.empty() ? entry.host : entry.relay_id;
}

std::wstring password_prompt_title(const ServerEntry& entry)
{
    return L"Пароль — " + computer_label(entry);
}

bool is_new_entry(const ServerEntry& entry) { return entry.host.empty() && entry.relay_id.empty(); }

const wchar_t* edit_dialog_title(bool add_mode)
{
    return add_mode ? L"Добавить компьютер" : L"Изменить компьютер";
}

PortText parse_port_text(const std::wstring& text, std::uint16_t default_port)
{
    unsigned long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return {false, 0};
        value = value * 10 + unsigned(c - L'0');
        if (value > 65535)
            return {false, 0};
    }
    return {true, value == 0 ? default_port : std::uint16_t(value)};
}

std::wstring trim_blanks(const std::wstring& text)
{
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == 0xA0; };
    std::size_t first = 0, end = text.size();
    while (first < end && blank(text[first]))
        ++first;
    while (end > first && blank(text[end - 1]))
        --end;
    return text.substr(first, end - first);
}

const wchar_t* computer_form_error(const ComputerForm& form)
{
    if (form.host.empty() && form.relay_host.empty())
        return L"Укажите IP для прямого подключения или релей.";
    if (!form.relay_host.empty() && form.relay_id.empty())
        return L"Для релея нужен ID машины.";
    // A port cut to 16 bits would quietly point somewhere else.
    if (!parse_port_text(form.port, DEFAULT_AGENT_PORT).valid ||
        !parse_port_text(form.relay_port, DEFAULT_RELAY_PORT).valid)
        return L"Порт — число от 1 до 65535.";
    return nullptr;
}

const std::array<FormField, 7>& edit_dialog_fields()
{
    static const std::array<FormField, 7> fields{{
        {NAME_EDIT_ID, 38, 100, 350, FieldKind::Text, 127},
        {HOST_EDIT_ID, 38, 176, 230, FieldKind::Text, 63},
        {PORT_EDIT_ID, 282, 176, 106, FieldKind::Number, 15},
        {PASSWORD_EDIT_ID, 38, 252, 350, FieldKind::Password, MAX_PASSWORD_BYTES},
        {RELAY_HOST_EDIT_ID, 38, 376, 244, FieldKind::Text, 127},
        {RELAY_PORT_EDIT_ID, 296, 376, 92, FieldKind::Number, 15},
        {RELAY_ID_EDIT_ID, 38, 452, 350, FieldKind::Text, 63},
    }};
    return fields;
}

std::array<FormText, 10> edit_dialog_texts(bool add_mode)
{
    const Colour ink = Colour::Ink, muted = Colour::Muted;
    const FormFont label = FormFont::Label, hint = FormFont::Hint;
    return {{
        {edit_dialog_title(add_mode), {36, 28, 388, 58}, FormFont::Title, ink, false},
        {L"Название", {38, 80, 388, 98}, label, muted, false},
        {L"IP или адрес (прямое подключение)", {38, 156, 268, 174}, label, muted, false},
        {L"Порт", {282, 156, 388, 174}, label, muted, false},
        {L"Пароль", {38, 232, 388, 250}, label, muted, false},
        {L"Пусто — спросить при каждом подключении", {38, 295, 388, 312}, hint, muted, false},
        {L"— или через релей, без проброса портов —", {38, 332, 388, 352}, hint, muted, true},
        {L"Адрес релея", {38, 356, 282, 374}, label, muted, false},
        {L"Порт", {296, 356, 388, 374}, label, muted, false},
        {L"ID машины на релее", {38, 432, 388, 450}, label, muted, false},
    }};
}

const std::array<FormButton, 2>& edit_dialog_buttons()
{
    static const std::array<FormButton, 2> buttons{{
        {1, L"OK", {186, 520, 186 + 96, 520 + 34}, ButtonKind::Primary},
        {2, L"Отмена", {290, 520, 290 + 94, 520 + 34}, ButtonKind::Secondary},
    }};
    return buttons;
}

UiRect edit_dialog_card() { return {16, 16, 406, 574}; }

const FormField& password_dialog_field()
{
    static const FormField field = {PASSWORD_EDIT_ID,  36, 90, 288, FieldKind::Password,
                                    MAX_PASSWORD_BYTES};
    return field;
}

const std::array<FormText, 2>& password_dialog_texts()
{
    static const std::array<FormText, 2> texts{{
        {L"Введите пароль", {36, 34, 324, 62}, FormFont::Title, Colour::Ink, false},
        {L"Пароль подключения к этому компьютеру",
         {36, 68, 324, 86},
         FormFont::Label,
         Colour::Muted,
         false},
    }};
    return texts;
}

const std::array<FormButton, 2>& password_dialog_buttons()
{
    static const std::array<FormButton, 2> buttons{{
        {1, L"OK", {150, 152, 150 + 92, 152 + 32}, ButtonKind::Primary},
        {2, L"Отмена", {252, 152, 252 + 92, 152 + 32}, ButtonKind::Secondary},
    }};
    return buttons;
}

UiRect password_dialog_card() { return {16, 16, 344, 204}; }
