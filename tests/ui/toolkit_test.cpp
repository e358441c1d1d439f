// The look's rules without windows: button colours, rounded shapes, cards,
// field edits and the message box layout.
#include <gtest/gtest.h>

#include <algorithm>

#include "ui/toolkit.h"

void PrintTo(const UiRect& r, std::ostream* out)
{
    *out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace {

UiRect rect(int left, int top, int right, int bottom)
{
    return {left, top, right, bottom};
}

const char* name(Colour c)
{
    switch (c) {
    case Colour::White: return "White";
    case Colour::Ink: return "Ink";
    case Colour::Muted: return "Muted";
    case Colour::Card: return "Card";
    case Colour::Field: return "Field";
    case Colour::Line: return "Line";
    case Colour::Neutral: return "Neutral";
    case Colour::Accent: return "Accent";
    case Colour::AccentHover: return "AccentHover";
    case Colour::AccentPressed: return "AccentPressed";
    case Colour::AccentDisabled: return "AccentDisabled";
    case Colour::DangerFill: return "DangerFill";
    case Colour::DangerHover: return "DangerHover";
    case Colour::DangerText: return "DangerText";
    case Colour::DisabledText: return "DisabledText";
    default: return "other";
    }
}

} // namespace

TEST(ButtonLook, FillAndTextFollowKindAndState)
{
    using K = ButtonKind;
    using C = Colour;
    struct Case { K kind; bool pressed, hover, disabled; C fill, text; };
    const Case cases[] = {
        {K::Primary, false, false, false, C::Accent, C::White},
        {K::Primary, false, true, false, C::AccentHover, C::White},
        {K::Primary, true, false, false, C::AccentPressed, C::White},
        {K::Primary, true, true, false, C::AccentPressed, C::White},  // pressed wins over hover
        {K::Primary, true, true, true, C::AccentDisabled, C::White},  // disabled ignores both
        {K::Primary, false, true, true, C::AccentDisabled, C::White},
        {K::Secondary, false, false, false, C::Neutral, C::Ink},
        {K::Secondary, false, true, false, C::Field, C::Ink},
        {K::Secondary, true, true, false, C::Line, C::Ink},
        {K::Secondary, false, true, true, C::Field, C::DisabledText},  // fill logic kept
        {K::Danger, false, false, false, C::DangerFill, C::DangerText},
        {K::Danger, false, true, false, C::DangerHover, C::DangerText},
        {K::Danger, true, false, false, C::DangerHover, C::DangerText},  // same as hover
        {K::Danger, true, false, true, C::DangerHover, C::Muted},
        {K::Quiet, false, false, false, C::Card, C::Ink},
        {K::Quiet, false, true, false, C::Field, C::Ink},
        {K::Quiet, true, true, false, C::Line, C::Ink},
        {K::Quiet, false, false, true, C::Card, C::DisabledText},
        {K(7), false, true, false, C::Field, C::Ink},  // an unknown kind is Secondary
        {K(-1), true, false, true, C::Line, C::DisabledText},
    };
    for (const Case& c : cases) {
        const ButtonLook look = button_look(c.kind, c.pressed, c.hover, c.disabled);
        EXPECT_EQ(look.fill, c.fill) << "kind " << int(c.kind) << " pressed " << c.pressed
                                     << " hover " << c.hover << " disabled " << c.disabled
                                     << ": fill " << name(look.fill);
        EXPECT_EQ(look.text, c.text) << "kind " << int(c.kind) << " disabled " << c.disabled
                                     << ": text " << name(look.text);
    }
}

TEST(ButtonLook, RadiusIsHalfTheHeightUpToFive)
{
    EXPECT_FLOAT_EQ(button_radius(34), 5.0f);
    EXPECT_FLOAT_EQ(button_radius(10), 5.0f);
    EXPECT_FLOAT_EQ(button_radius(6), 3.0f);
    EXPECT_FLOAT_EQ(button_radius(0), 0.0f);
}

TEST(RoundedRect, CornersGoClockwiseFromTopLeft)
{
    const auto arcs = rounded_rect_arcs(10, 20, 100, 40, 6);
    const std::array<CornerArc, 4> expected{{
        {10, 20, 12, 180}, {98, 20, 12, 270}, {98, 48, 12, 0}, {10, 48, 12, 90}}};
    EXPECT_EQ(arcs, expected);
}

TEST(RoundedRect, DiameterIsClampedToTheShorterSide)
{
    struct Case { float width, height, radius, diameter; };
    const Case cases[] = {
        {100, 40, 6, 12}, {100, 40, 20, 40}, {100, 40, 50, 40},  // stadium, not crossed arcs
        {30, 80, 50, 30}, {10, 10, 0, 0}, {0, 40, 6, 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(corner_diameter(c.width, c.height, c.radius), c.diameter)
            << c.width << "x" << c.height << " r" << c.radius;
    // A stadium's right arcs start exactly where its left arcs end.
    const auto stadium = rounded_rect_arcs(0, 0, 40, 20, 100);
    EXPECT_FLOAT_EQ(stadium[1].x, 20);
    EXPECT_FLOAT_EQ(stadium[2].y, 0);
}

TEST(Card, ShadowReachesFourSidewaysOneAboveSevenBelow)
{
    const UiRect card{20, 64, 310, 320};
    const auto layers = card_shadow_layers(card, 10);
    const std::array<ShadowLayer, 4> expected{{
        {16, 63, 298, 264, 14, 4},
        {17, 64, 296, 262, 13, 6},
        {18, 65, 294, 260, 12, 8},
        {19, 66, 292, 258, 11, 10},
    }};
    EXPECT_EQ(layers, expected);
    int left = card.left, top = card.top, right = card.right, bottom = card.bottom;
    for (const ShadowLayer& l : layers) {
        left = std::min(left, l.x);
        top = std::min(top, l.y);
        right = std::max(right, l.x + l.width);
        bottom = std::max(bottom, l.y + l.height);
    }
    EXPECT_EQ(rect(left, top, right, bottom), rect(16, 63, 314, 327));
}

TEST(FieldEdit, CentredInItsBoxWithPadding)
{
    struct Case { int left, top, width, line; UiRect place; };
    const Case cases[] = {
        {38, 100, 350, 20, {52, 109, 374, 130}},  // (39 - 20) / 2 = 9
        {36, 90, 288, 21, {50, 99, 310, 121}},
        {0, 0, 28, 39, {14, 0, 14, 40}},
        {0, 0, 100, 44, {14, -2, 86, 43}},  // a font taller than the box overhangs it
    };
    for (const Case& c : cases)
        EXPECT_EQ(field_edit_rect(c.left, c.top, c.width, c.line), c.place)
            << c.left << "," << c.top << " w" << c.width << " f" << c.line;
}

TEST(MessageBoxLook, LayoutGrowsWithTheTextFromFortyPixels)
{
    struct Case { int text_height, client_height, text_bottom; };
    const Case cases[] = {{0, 160, 74}, {20, 160, 74}, {40, 160, 74}, {41, 161, 75}, {100, 220, 134}};
    for (const Case& c : cases) {
        const MessageBoxLayout l = message_box_layout(c.text_height, false);
        EXPECT_EQ(l.client_width, 420);
        EXPECT_EQ(l.client_height, c.client_height) << c.text_height;
        EXPECT_EQ(l.text, rect(92, 34, 404, c.text_bottom));
        EXPECT_EQ(l.card, rect(16, 16, 404, c.client_height - 16));
        EXPECT_EQ(l.icon, rect(36, 32, 76, 72));
        EXPECT_EQ(l.buttons[0].rect.top, c.client_height - 56);
    }
}

TEST(MessageBoxLook, ButtonsOfOkAndYesNo)
{
    const MessageBoxLayout ok = message_box_layout(20, false);
    ASSERT_EQ(ok.button_count, 1);
    EXPECT_EQ(ok.buttons[0].id, 1);
    EXPECT_STREQ(ok.buttons[0].text, L"OK");
    EXPECT_EQ(ok.buttons[0].kind, ButtonKind::Primary);
    EXPECT_EQ(ok.buttons[0].rect, rect(304, 104, 396, 136));

    const MessageBoxLayout yes_no = message_box_layout(20, true);
    ASSERT_EQ(yes_no.button_count, 2);
    EXPECT_EQ(yes_no.buttons[0].id, 7);
    EXPECT_STREQ(yes_no.buttons[0].text, L"Нет");
    EXPECT_EQ(yes_no.buttons[0].kind, ButtonKind::Secondary);
    EXPECT_EQ(yes_no.buttons[0].rect, rect(304, 104, 396, 136));
    EXPECT_EQ(yes_no.buttons[1].id, 6);
    EXPECT_STREQ(yes_no.buttons[1].text, L"Да");
    EXPECT_EQ(yes_no.buttons[1].kind, ButtonKind::Primary);
    EXPECT_EQ(yes_no.buttons[1].rect, rect(200, 104, 292, 136));
}

TEST(MessageBoxLook, IconColourAndGlyphFromFlags)
{
    struct Case { std::uint32_t flags; Colour circle; const wchar_t* glyph; bool yes_no; };
    const Case cases[] = {
        {0x30, Colour::Warn, L"!", false},   // warning
        {0x40, Colour::Accent, L"i", false}, // information
        {0x24, Colour::Warn, L"?", true},    // question
        {0x10, Colour::Warn, L"!", false},   // error
        {0x00, Colour::Accent, L"i", false},
        {0x04, Colour::Accent, L"i", true},
        {0x34, Colour::Warn, L"!", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(message_box_icon_colour(c.flags), c.circle) << std::hex << c.flags;
        EXPECT_STREQ(message_box_glyph(c.flags), c.glyph) << std::hex << c.flags;
        EXPECT_EQ(message_box_yes_no(c.flags), c.yes_no) << std::hex << c.flags;
    }
}

TEST(MessageBoxLook, OnlyItsOwnAnswersEndTheBox)
{
    for (int id : {1, 6, 7})
        EXPECT_EQ(message_box_command_result(id), id);
    for (int id : {0, 2, 3, 5, 8, 100, 0xFFFF})
        EXPECT_EQ(message_box_command_result(id), 0) << id;
    EXPECT_EQ(message_box_close_result(true), 7);
    EXPECT_EQ(message_box_close_result(false), 1);
}
