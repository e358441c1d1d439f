#pragma once
// The shared look of the desktop interface that needs no Windows: the palette,
// the button colour rules and the geometry of rounded shapes, cards, field
// edits and the message box. The drawing itself is in toolkit_win.h.
#include <array>
#include <cstdint>

// Every colour of the interface, as 0xRRGGBB.
enum class Colour : std::uint32_t {
    White = 0xFFFFFF,
    Ink = 0x3E414A,
    Muted = 0x6F7072,
    Card = 0xF1F1EE,
    Field = 0xDBDBE5,
    Line = 0xC6C6D1,
    Neutral = 0xEAEAF0,
    Accent = 0x4799D5,
    AccentHover = 0x3C85BB,
    AccentPressed = 0x3271A1,
    AccentDisabled = 0xC9DBD7,
    Warn = 0xF2B356,
    Amber = 0xCB872E,
    DangerFill = 0xFBD7C1,
    DangerHover = 0xF5C3A3,
    DangerText = 0xB36B28,
    DisabledText = 0xB8B0A6,
    Selection = 0x4A4D55,
    SelectionMuted = 0xC8CAD0,
    Shadow = 0x6B5B4B,  // only ever painted with alpha 4, 6, 8 or 10
};

// Stored as a plain 32-bit value: an unknown value paints as Secondary.
enum class ButtonKind : std::int32_t { Primary = 0, Secondary = 1, Danger = 2, Quiet = 3 };

struct ButtonLook {
    Colour fill;
    Colour text;
};

// Fill and text colour of an owner-drawn button in the given state.
ButtonLook button_look(ButtonKind kind, bool pressed, bool hover, bool disabled);

// Corner radius of a button of the given height: a pill when low, else 5.
float button_radius(int height);

// A rectangle in client pixels: left, top, right, bottom.
struct UiRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const UiRect&) const = default;
};

// One quarter arc of a rounded rectangle: its bounding box and start angle.
struct CornerArc {
    float x, y, size, start_angle;
    bool operator==(const CornerArc&) const = default;
};

// The corner diameter: twice the radius, clamped to the shorter side so that
// an oversized radius gives a stadium rather than crossing arcs.
float corner_diameter(float width, float height, float radius);

// The four corners clockwise from the top left, as a closed figure takes them.
std::array<CornerArc, 4> rounded_rect_arcs(float x, float y, float width, float height,
                                           float radius);

// One translucent layer of a card's shadow.
struct ShadowLayer {
    int x, y, width, height;
    float radius;
    std::uint8_t alpha;
    bool operator==(const ShadowLayer&) const = default;
};

// Four layers, painted first to last, that reach 4 pixels to the sides,
// 1 above and 7 below the card.
std::array<ShadowLayer, 4> card_shadow_layers(const UiRect& card, float radius);

// Field boxes are 39 pixels high; their edit sits inside with 14 pixels of
// padding on each side, centred vertically for a font of `line_height`.
constexpr int FIELD_BOX_HEIGHT = 39;
UiRect field_edit_rect(int box_left, int box_top, int box_width, int line_height);

// Message box flag bits, as the Win32 message-box flags have them.
constexpr std::uint32_t MSGBOX_YES_NO = 0x4;
constexpr std::uint32_t MSGBOX_ICON_ERROR = 0x10;
constexpr std::uint32_t MSGBOX_ICON_QUESTION = 0x20;
constexpr std::uint32_t MSGBOX_ICON_WARNING = 0x30;
constexpr std::uint32_t MSGBOX_ICON_INFORMATION = 0x40;

// Results, as IDOK, IDYES and IDNO.
constexpr int MSGBOX_OK = 1;
constexpr int MSGBOX_YES = 6;
constexpr int MSGBOX_NO = 7;

constexpr int MSGBOX_CLIENT_WIDTH = 420;
constexpr int MSGBOX_TEXT_WIDTH = 312;
constexpr int MSGBOX_MIN_TEXT_HEIGHT = 40;

struct MessageBoxButton {
    int id;
    const wchar_t* text;
    ButtonKind kind;
    UiRect rect;
};

struct MessageBoxLayout {
    int client_width;
    int client_height;
    UiRect text;
    UiRect card;
    UiRect icon;
    int button_count;
    std::array<MessageBoxButton, 2> buttons;
};

bool message_box_yes_no(std::uint32_t flags);
// Places everything for a message whose word-wrapped height is `text_height`.
MessageBoxLayout message_box_layout(int text_height, bool yes_no);
// The icon circle is amber-yellow for warnings and questions, blue otherwise.
Colour message_box_icon_colour(std::uint32_t flags);
// "!" for errors and warnings, "?" for questions, "i" for the rest.
const wchar_t* message_box_glyph(std::uint32_t flags);
// The answer a command id gives, or 0 when the box ignores that command.
int message_box_command_result(int id);
// Closing the box without an answer declines a question.
int message_box_close_result(bool yes_no);
