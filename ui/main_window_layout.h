#pragma once
// The main window without Windows: where its controls and painted shapes go,
// which status it shows, and how a saved computer reads in the list. The
// window itself is in main_window_win.cpp, its painting in
// main_window_paint_win.cpp.
#include <array>
#include <cstdint>
#include <string>

#include "orvane_version.h"
#include "ui/server_entry.h"
#include "ui/toolkit.h"

inline constexpr int MAIN_CLIENT_WIDTH = 640;
inline constexpr int MAIN_CLIENT_HEIGHT = 608;
inline constexpr wchar_t MAIN_TITLE[] = L"Orvane " ORVANE_VERSION;
inline constexpr wchar_t PRODUCT_VERSION[] = L"" ORVANE_VERSION;

// Control ids.
inline constexpr int ID_SAVED_CONNECT = 3001;
inline constexpr int ID_SAVED_ADD = 3002;
inline constexpr int ID_SAVED_EDIT = 3003;
inline constexpr int ID_SAVED_DELETE = 3004;
inline constexpr int ID_SAVED_LIST = 3005;
inline constexpr int ID_PARTNER_ID = 3006;
inline constexpr int ID_PARTNER_PASSWORD = 3007;
inline constexpr int ID_PARTNER_CONNECT = 3008;
inline constexpr int ID_COPY_ID = 3009;
inline constexpr int ID_COPY_PASSWORD = 3010;
inline constexpr int ID_OWN_ID = 3011;
inline constexpr int ID_OWN_PASSWORD = 3012;
inline constexpr int ID_TOGGLE_ACCEPT = 3013;
inline constexpr int ID_EXIT = 3014;

inline constexpr int PARTNER_ID_MAX_CHARS = 32;
inline constexpr int PARTNER_PASSWORD_MAX_CHARS = 255;
inline constexpr int LIST_ITEM_HEIGHT = 40;

// The window's nine fonts, all Segoe UI.
enum class MainFont {
    Title,
    Heading,
    Field,
    Label,
    Footer,
    OwnValue,
    ItemTitle,
    ItemSubtitle,
    Button
};
inline constexpr int MAIN_FONT_COUNT = 9;
struct FontSize {
    int height;
    int weight;
};
FontSize main_font_size(MainFont font);

enum class ControlClass { Edit, Button, ListBox };

struct MainControl {
    int id;
    ControlClass cls;
    const wchar_t* text;
    UiRect rect;
    MainFont font;
    ButtonKind kind;  // buttons only
};

// Line heights of the Field (15/400) and OwnValue (22/600) fonts, which centre
// the edits in their boxes.
struct LineHeights {
    int field;
    int own_value;
};

// Every control of the window in creation order. The allow/forbid button is
// last; it shows its text and kind for the accept flag of the moment.
inline constexpr int MAIN_CONTROL_COUNT = 14;
std::array<MainControl, MAIN_CONTROL_COUNT> main_controls(LineHeights lines, bool accepting);

const wchar_t* toggle_text(bool accepting);
ButtonKind toggle_kind(bool accepting);

// Painted shapes.
inline constexpr float CARD_RADIUS = 10.0f;
inline constexpr float FIELD_RADIUS = 6.0f;
inline constexpr std::array<UiRect, 3> MAIN_CARDS = {{
    {20, 64, 310, 320},   // connect to a partner
    {326, 64, 620, 320},  // this computer
    {20, 336, 620, 590},  // saved computers
}};

struct FieldBox {
    int control_id;
    UiRect rect;
};
inline constexpr std::array<FieldBox, 4> MAIN_FIELD_BOXES = {{
    {ID_PARTNER_ID, {38, 132, 292, 172}},
    {ID_PARTNER_PASSWORD, {38, 202, 292, 242}},
    {ID_OWN_ID, {344, 132, 602, 184}},
    {ID_OWN_PASSWORD, {344, 214, 602, 266}},
}};
inline constexpr UiRect LIST_FRAME = {38, 386, 602, 514};
inline constexpr UiRect HEADER_STRIP = {0, 0, MAIN_CLIENT_WIDTH, 60};
inline constexpr UiRect FOOTER_STRIP = {0, 584, MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT};

// A field box's border: Accent and 1.6 wide while its control has the focus.
struct Stroke {
    Colour colour;
    float width;
};
Stroke field_box_stroke(bool focused);

// What the agent is doing, the first rule that holds.
struct AgentStatusInput {
    bool session_active;
    bool accepting;
    bool relay_configured;  // the agent's relay host is not empty
    bool id_known;          // the relay has registered the agent
};
struct AgentStatus {
    Colour dot;
    const wchar_t* text;
};
AgentStatus agent_status(const AgentStatusInput& input);

// The status pill for a status text `text_width` pixels wide: it grows to the
// left, its right edge stays put.
struct StatusPill {
    UiRect pill;
    float dot_x, dot_y, dot_size;
    UiRect text;
};
inline constexpr float PILL_RADIUS = 8.0f;
StatusPill status_pill(int text_width);

// Texts painted on the window surface.
enum class TextLayout { Plain, SingleLineCentredVertically, SingleLineCentred, FooterLine };
struct SurfaceText {
    const wchar_t* text;
    UiRect rect;
    MainFont font;
    Colour colour;
    TextLayout layout;
};
inline constexpr std::array<SurfaceText, 8> MAIN_FIXED_TEXTS = {{
    {L"Orvane",
     {28, 14, 330, 52},
     MainFont::Title,
     Colour::Ink,
     TextLayout::SingleLineCentredVertically},
    {L"Подключиться к компьютеру",
     {38, 80, 300, 104},
     MainFont::Heading,
     Colour::Ink,
     TextLayout::Plain},
    {L"ID партнёра", {38, 112, 292, 130}, MainFont::Label, Colour::Muted, TextLayout::Plain},
    {L"Пароль", {38, 182, 292, 200}, MainFont::Label, Colour::Muted, TextLayout::Plain},
    {L"Этот компьютер", {344, 80, 602, 104}, MainFont::Heading, Colour::Ink, TextLayout::Plain},
    {L"Ваш ID", {344, 112, 602, 130}, MainFont::Label, Colour::Muted, TextLayout::Plain},
    {L"Пароль", {344, 194, 602, 212}, MainFont::Label, Colour::Muted, TextLayout::Plain},
    {L"Сохранённые компьютеры",
     {38, 352, 400, 376},
     MainFont::Heading,
     Colour::Ink,
     TextLayout::Plain},
}};
// In place of the allow/forbid button when the service started the agent.
inline constexpr SurfaceText SERVICE_HINT = {L"Назовите ID и пароль тому, кто будет подключаться",
                                             {344, 276, 602, 312},
                                             MainFont::Label,
                                             Colour::Muted,
                                             TextLayout::Plain};
inline constexpr std::array<SurfaceText, 2> EMPTY_LIST_TEXTS = {{
    {L"Здесь пока пусто",
     {38, 420, 602, 448},
     MainFont::ItemTitle,
     Colour::Ink,
     TextLayout::SingleLineCentred},
    {L"Нажмите «Добавить», чтобы сохранить компьютер",
     {38, 448, 602, 476},
     MainFont::Label,
     Colour::Muted,
     TextLayout::SingleLineCentred},
}};
inline constexpr UiRect FOOTER_RECT = {20, 588, 620, 604};

// "Orvane <version>  ·  relay <relay version or —>" when a relay is configured,
// else "Orvane <version>". The relay version is cut to 80 characters.
std::wstring footer_text(bool relay_configured, const std::wstring& relay_version);

// The name, or for a nameless entry what identifies it: the relay ID when it
// goes through a relay, else its host. At most 199 characters.
std::wstring list_item_title(const ServerEntry& entry);
// "host : port" for a direct entry, "через релей  ·  ID <id>" for a relay one.
// At most 239 characters.
std::wstring list_item_subtitle(const ServerEntry& entry);

struct ListItemColours {
    Colour title;
    Colour subtitle;
    Colour dot;
};
// `reachability` is 1 reachable, 0 not, anything else undetermined (never
// probed, or not yet).
ListItemColours list_item_colours(bool selected, int reachability);

struct ListItemLayout {
    UiRect selection;  // the selected item's rounded fill
    float dot_x, dot_y, dot_size;
    UiRect title;
    UiRect subtitle;
};
inline constexpr float SELECTION_RADIUS = 4.0f;
ListItemLayout list_item_layout(int width, int height);
