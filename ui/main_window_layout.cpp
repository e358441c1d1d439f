#include "ui/main_window_layout.h"

FontSize main_font_size(MainFont font)
{
    switch (font) {
    case MainFont::Title:
        return {26, 600};
    case MainFont::Heading:
        return {16, 600};
    case MainFont::Field:
        return {15, 400};
    case MainFont::Label:
        return {13, 400};
    case MainFont::Footer:
        return {11, 400};
    case MainFont::OwnValue:
        return {22, 600};
    case MainFont::ItemTitle:
        return {15, 600};
    case MainFont::ItemSubtitle:
        return {13, 400};
    case MainFont::Button:
        return {13, 600};
    }
    return {13, 400};
}

const wchar_t* toggle_text(bool accepting)
{
    return accepting ? L"Запретить подключение" : L"Разрешить подключение";
}

ButtonKind toggle_kind(bool accepting)
{
    return accepting ? ButtonKind::Danger : ButtonKind::Primary;
}

namespace {

// An edit centred vertically in a box `box_height` high whose top is box_top.
UiRect centred_edit(int x, int box_top, int box_height, int width, int line_height)
{
    const int top = box_top + (box_height - line_height) / 2;
    return {x, top, x + width, top + line_height + 1};
}

UiRect at(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }

}  // namespace

std::array<MainControl, MAIN_CONTROL_COUNT> main_controls(LineHeights lines, bool accepting)
{
    using C = ControlClass;
    using F = MainFont;
    using K = ButtonKind;
    const int f = lines.field, g = lines.own_value;
    return {{
        {ID_PARTNER_ID, C::Edit, L"", centred_edit(52, 132, 39, 226, f), F::Field, K::Secondary},
        {ID_PARTNER_PASSWORD, C::Edit, L"", centred_edit(52, 202, 39, 226, f), F::Field,
         K::Secondary},
        {ID_PARTNER_CONNECT, C::Button, L"Подключиться", at(38, 254, 224, 34), F::Button,
         K::Primary},
        {ID_OWN_ID, C::Edit, L"…", centred_edit(360, 132, 51, 138, g), F::OwnValue, K::Secondary},
        {ID_OWN_PASSWORD, C::Edit, L"…", centred_edit(360, 214, 51, 138, g), F::OwnValue,
         K::Secondary},
        {ID_COPY_ID, C::Button, L"Копировать", at(510, 142, 76, 26), F::Label, K::Quiet},
        {ID_COPY_PASSWORD, C::Button, L"Копировать", at(510, 224, 76, 26), F::Label, K::Quiet},
        {ID_SAVED_LIST, C::ListBox, L"", at(42, 390, 556, 120), F::Field, K::Secondary},
        {ID_SAVED_CONNECT, C::Button, L"Подключиться", at(38, 530, 150, 34), F::Button, K::Primary},
        {ID_SAVED_ADD, C::Button, L"Добавить", at(198, 530, 98, 34), F::Button, K::Secondary},
        {ID_SAVED_EDIT, C::Button, L"Изменить", at(306, 530, 98, 34), F::Button, K::Secondary},
        {ID_SAVED_DELETE, C::Button, L"Удалить", at(414, 530, 98, 34), F::Button, K::Danger},
        {ID_EXIT, C::Button, L"Выход", at(522, 530, 80, 34), F::Button, K::Quiet},
        {ID_TOGGLE_ACCEPT, C::Button, toggle_text(accepting), at(344, 276, 258, 34), F::Button,
         toggle_kind(accepting)},
    }};
}

Stroke field_box_stroke(bool focused)
{
    return focused ? Stroke{Colour::Accent, 1.6f} : Stroke{Colour::Line, 1.0f};
}

AgentStatus agent_status(const AgentStatusInput& input)
{
    if (input.session_active)
        return {Colour::Warn, L"Идёт сеанс удалённого доступа"};
    if (!input.accepting)
        return {Colour::Amber, L"Подключения запрещены"};
    if (!input.relay_configured)
        return {Colour::Accent, L"Ожидание подключения по порту"};
    if (input.id_known)
        return {Colour::Accent, L"Готов к подключению"};
    return {Colour::Warn, L"Подключаемся к релею…"};
}

StatusPill status_pill(int text_width)
{
    const int w = text_width;
    return {{576 - w, 18, 620, 48}, float(590 - w), 28.0f, 10.0f, {608 - w, 18, 612, 48}};
}

std::wstring footer_text(bool relay_configured, const std::wstring& relay_version)
{
    std::wstring text = std::wstring(L"Orvane ") + PRODUCT_VERSION;
    if (!relay_configured)
        return text;
    const std::wstring relay = relay_version.empty() ? L"—" : relay_version.substr(0, 80);
    return text + L"  ·  relay " + relay;
}

std::wstring list_item_title(const ServerEntry& entry)
{
    return computer_label(entry).substr(0, 199);
}

std::wstring list_item_subtitle(const ServerEntry& entry)
{
    std::wstring text = entry.relay_host.empty()
                            ? entry.host + L" : " + std::to_wstring(unsigned(entry.port))
                            : L"через релей  ·  ID " + entry.relay_id;
    return text.substr(0, 239);
}

ListItemColours list_item_colours(bool selected, int reachability)
{
    const Colour subtitle = selected ? Colour::SelectionMuted : Colour::Muted;
    const Colour dot = reachability == 1   ? Colour::Accent
                       : reachability == 0 ? Colour::Amber
                                           : subtitle;
    return {selected ? Colour::White : Colour::Ink, subtitle, dot};
}

ListItemLayout list_item_layout(int width, int height)
{
    return {{2, 2, width - 2, height - 2}, 6.0f,
            float(height / 2 - 4),         8.0f,
            {26, 4, width - 12, 22},       {26, 21, width - 12, height - 2}};
}
