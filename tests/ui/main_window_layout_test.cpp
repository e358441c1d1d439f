// The main window's choices without windows: the status and its pill, the
// footer, how a saved computer reads in the list, and controls that fit the
// shapes painted around them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ui/main_window_layout.h"

namespace {

bool inside(const UiRect& inner, const UiRect& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

const MainControl& find(const std::array<MainControl, MAIN_CONTROL_COUNT>& controls, int id)
{
    for (const MainControl& c : controls)
        if (c.id == id)
            return c;
    throw std::out_of_range("no control " + std::to_string(id));
}

}  // namespace

TEST(AgentStatus, FirstRuleThatHoldsWins)
{
    struct Case {
        AgentStatusInput input;
        Colour dot;
        std::wstring text;
    };
    const Case cases[] = {
        // A session shows even when connections were switched off meanwhile.
        {{true, false, true, true}, Colour::Warn, L"Идёт сеанс удалённого доступа"},
        {{false, false, false, true}, Colour::Amber, L"Подключения запрещены"},
        {{false, true, false, true}, Colour::Accent, L"Ожидание подключения по порту"},
        {{false, true, true, true}, Colour::Accent, L"Готов к подключению"},
        {{false, true, true, false}, Colour::Warn, L"Подключаемся к релею…"},
    };
    for (const Case& c : cases) {
        const AgentStatus status = agent_status(c.input);
        EXPECT_EQ(status.text, c.text) << int(&c - cases);
        EXPECT_EQ(status.dot, c.dot) << int(&c - cases);
    }
}

TEST(StatusPill, GrowsToTheLeftWithItsText)
{
    for (int width : {0, 120, 400}) {
        const StatusPill pill = status_pill(width);
        EXPECT_EQ(pill.pill.right, 620) << width;
        EXPECT_EQ(pill.pill.left, 576 - width);
        EXPECT_EQ(pill.pill.top, 18);
        EXPECT_EQ(pill.pill.bottom, 48);
        // Dot, gap, text, margin, left to right inside the pill.
        EXPECT_GT(pill.dot_x, float(pill.pill.left));
        EXPECT_LT(pill.dot_x + pill.dot_size, float(pill.text.left));
        EXPECT_EQ(pill.text.right - pill.text.left, width + 4);
        EXPECT_LT(pill.text.right, pill.pill.right);
        EXPECT_FLOAT_EQ(pill.dot_y + pill.dot_size / 2, 33.0f) << "centred in the pill";
    }
}

TEST(Footer, RelayFormOnlyWithARelay)
{
    EXPECT_EQ(footer_text(false, L"orvane-relay 1.0"), L"Orvane 1.1.0.1");
    EXPECT_EQ(footer_text(true, L""), L"Orvane 1.1.0.1  ·  relay —");
    EXPECT_EQ(footer_text(true, L"orvane-relay 1.0"), L"Orvane 1.1.0.1  ·  relay orvane-relay 1.0");
    const std::wstring long_version(100, L'v');
    EXPECT_EQ(footer_text(true, long_version),
              L"Orvane 1.1.0.1  ·  relay " + std::wstring(80, L'v'));
}

TEST(SavedComputerText, TitleAndSubtitleFollowTheRoute)
{
    struct Case {
        std::wstring name, host;
        std::uint16_t port;
        std::wstring relay_host, relay_id;
        std::wstring title, subtitle;
    };
    const Case cases[] = {
        {L"Офис", L"10.0.0.5", 55500, L"", L"", L"Офис", L"10.0.0.5 : 55500"},
        {L"", L"10.0.0.5", 7, L"", L"", L"10.0.0.5", L"10.0.0.5 : 7"},
        {L"", L"", 55500, L"relay.example", L"123456789", L"123456789",
         L"через релей  ·  ID 123456789"},
        // A relay host decides the route even when a host is filled in too.
        {L"", L"10.0.0.5", 55500, L"relay.example", L"42", L"42", L"через релей  ·  ID 42"},
        {L"Дом", L"", 55500, L"relay.example", L"42", L"Дом", L"через релей  ·  ID 42"},
    };
    for (const Case& c : cases) {
        ServerEntry entry;
        entry.name = c.name;
        entry.host = c.host;
        entry.port = c.port;
        entry.relay_host = c.relay_host;
        entry.relay_id = c.relay_id;
        EXPECT_EQ(list_item_title(entry), c.title);
        EXPECT_EQ(list_item_subtitle(entry), c.subtitle);
    }
    ServerEntry long_entry;
    long_entry.name = std::wstring(300, L'n');
    long_entry.host = std::wstring(300, L'h');
    long_entry.port = 1;
    EXPECT_EQ(list_item_title(long_entry).size(), 199u);
    EXPECT_EQ(list_item_subtitle(long_entry).size(), 239u);
}

TEST(SavedComputerText, DotShowsReachabilityElseTheSubtitleColour)
{
    struct Case {
        bool selected;
        int reachability;
        Colour title, subtitle, dot;
    };
    using C = Colour;
    const Case cases[] = {
        {false, 1, C::Ink, C::Muted, C::Accent},
        {false, 0, C::Ink, C::Muted, C::Amber},
        {false, -1, C::Ink, C::Muted, C::Muted},
        {false, 5, C::Ink, C::Muted, C::Muted},
        {true, 1, C::White, C::SelectionMuted, C::Accent},
        {true, 0, C::White, C::SelectionMuted, C::Amber},
        {true, -1, C::White, C::SelectionMuted, C::SelectionMuted},
    };
    for (const Case& c : cases) {
        const ListItemColours colours = list_item_colours(c.selected, c.reachability);
        EXPECT_EQ(colours.title, c.title) << c.selected << " " << c.reachability;
        EXPECT_EQ(colours.subtitle, c.subtitle) << c.selected << " " << c.reachability;
        EXPECT_EQ(colours.dot, c.dot) << c.selected << " " << c.reachability;
    }
}

TEST(MainControls, EditsSitInsideTheirPaintedBoxesForAnyFont)
{
    // Line heights of small, usual and large fonts (Wine falls back to DejaVu).
    for (int field_line : {15, 20, 30}) {
        for (int value_line : {22, 30, 44}) {
            const auto controls = main_controls({field_line, value_line}, true);
            for (const FieldBox& box : MAIN_FIELD_BOXES) {
                const UiRect edit = find(controls, box.control_id).rect;
                EXPECT_TRUE(inside(edit, box.rect)) << box.control_id << " " << field_line;
                // Centred: as much room above as below, within a pixel.
                const int above = edit.top - box.rect.top;
                const int below = box.rect.bottom - edit.bottom;
                EXPECT_LE(std::abs(above - below), 2) << box.control_id << " " << field_line;
            }
        }
    }
    const auto controls = main_controls({20, 30}, true);
    EXPECT_TRUE(inside(find(controls, ID_SAVED_LIST).rect, LIST_FRAME));
    for (int id : {ID_COPY_ID, ID_COPY_PASSWORD}) {
        const UiRect button = find(controls, id).rect;
        const UiRect& box = MAIN_FIELD_BOXES[id == ID_COPY_ID ? 2 : 3].rect;
        EXPECT_TRUE(inside(button, box)) << id;
        EXPECT_FALSE(button.left < find(controls, id + 2).rect.right) << "beside the value";
    }
}

TEST(MainControls, EveryControlLiesOnACard)
{
    for (bool accepting : {true, false}) {
        for (const MainControl& c : main_controls({20, 30}, accepting)) {
            bool on_card = false;
            for (const UiRect& card : MAIN_CARDS)
                on_card = on_card || inside(c.rect, card);
            EXPECT_TRUE(on_card) << c.id;
        }
    }
}

TEST(MainControls, AllowForbidButtonFollowsTheFlag)
{
    const MainControl allowed = find(main_controls({20, 30}, true), ID_TOGGLE_ACCEPT);
    EXPECT_EQ(std::wstring(allowed.text), L"Запретить подключение");
    EXPECT_EQ(allowed.kind, ButtonKind::Danger);
    const MainControl forbidden = find(main_controls({20, 30}, false), ID_TOGGLE_ACCEPT);
    EXPECT_EQ(std::wstring(forbidden.text), L"Разрешить подключение");
    EXPECT_EQ(forbidden.kind, ButtonKind::Primary);
}
