#include "ui/toolkit.h"

#include <algorithm>

ButtonLook button_look(ButtonKind kind, bool pressed, bool hover, bool disabled)
{
    switch (kind) {
    case ButtonKind::Primary:
        // A disabled primary button ignores the mouse entirely.
        if (disabled)
            return {Colour::AccentDisabled, Colour::White};
        return {pressed ? Colour::AccentPressed : hover ? Colour::AccentHover : Colour::Accent,
                Colour::White};
    case ButtonKind::Danger:
        return {pressed || hover ? Colour::DangerHover : Colour::DangerFill,
                disabled ? Colour::Muted : Colour::DangerText};
    case ButtonKind::Quiet:
        return {pressed ? Colour::Line : hover ? Colour::Field : Colour::Card,
                disabled ? Colour::DisabledText : Colour::Ink};
    case ButtonKind::Secondary:
    default:
        return {pressed ? Colour::Line : hover ? Colour::Field : Colour::Neutral,
                disabled ? Colour::DisabledText : Colour::Ink};
    }
}

float button_radius(int height)
{
    return std::min(float(height) * 0.5f, 5.0f);
}

float corner_diameter(float width, float height, float radius)
{
    return std::min({2.0f * radius, height, width});
}

std::array<CornerArc, 4> rounded_rect_arcs(float x, float y, float width, float height,
                                           float radius)
{
    const float d = corner_diameter(width, height, radius);
    return {{
        {x, y, d, 180.0f},
        {x + width - d, y, d, 270.0f},
        {x + width - d, y + height - d, d, 0.0f},
        {x, y + height - d, d, 90.0f},
    }};
}

std::array<ShadowLayer, 4> card_shadow_layers(const UiRect& card, float radius)
{
    const int w = card.width(), h = card.height();
    std::array<ShadowLayer, 4> layers{};
    // Each layer is the card grown by 4, 3, 2, 1 pixels on every side and moved
    // 3 pixels down, the widest being the faintest: light falls from above.
    for (int i = 0; i < 4; ++i) {
        const int grow = 4 - i;
        layers[i] = {card.left - grow,     card.top - grow + 3,  w + 2 * grow, h + 2 * grow,
                     radius + float(grow), std::uint8_t(4 + 2 * i)};
    }
    return layers;
}

UiRect field_edit_rect(int box_left, int box_top, int box_width, int line_height)
{
    const int left = box_left + 14;
    const int top = box_top + (FIELD_BOX_HEIGHT - line_height) / 2;
    return {left, top, left + box_width - 28, top + line_height + 1};
}

bool message_box_yes_no(std::uint32_t flags)
{
    return (flags & MSGBOX_YES_NO) != 0;
}

MessageBoxLayout message_box_layout(int text_height, bool yes_no)
{
    const int b = std::max(text_height, MSGBOX_MIN_TEXT_HEIGHT);
    MessageBoxLayout layout{};
    layout.client_width = MSGBOX_CLIENT_WIDTH;
    layout.client_height = b + 120;
    layout.text = {92, 34, 92 + MSGBOX_TEXT_WIDTH, b + 34};
    layout.card = {16, 16, layout.client_width - 16, layout.client_height - 16};
    layout.icon = {36, 32, 76, 72};

    const int top = layout.client_height - 56;
    const int right = layout.client_width;
    auto at = [top](int x) { return UiRect{x, top, x + 92, top + 32}; };
    if (yes_no) {
        layout.button_count = 2;
        layout.buttons[0] = {MSGBOX_NO, L"Нет", ButtonKind::Secondary, at(right - 116)};
        layout.buttons[1] = {MSGBOX_YES, L"Да", ButtonKind::Primary, at(right - 220)};
    } else {
        layout.button_count = 1;
        layout.buttons[0] = {MSGBOX_OK, L"OK", ButtonKind::Primary, at(right - 116)};
    }
    return layout;
}

Colour message_box_icon_colour(std::uint32_t flags)
{
    return (flags & MSGBOX_ICON_WARNING) != 0 ? Colour::Warn : Colour::Accent;
}

const wchar_t* message_box_glyph(std::uint32_t flags)
{
    if (flags & MSGBOX_ICON_ERROR)
        return L"!";
    if (flags & MSGBOX_ICON_QUESTION)
        return L"?";
    return L"i";
}

int message_box_command_result(int id)
{
    return id == MSGBOX_OK || id == MSGBOX_YES || id == MSGBOX_NO ? id : 0;
}

int message_box_close_result(bool yes_no)
{
    return yes_no ? MSGBOX_NO : MSGBOX_OK;
}
