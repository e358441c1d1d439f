// Painting of the main window's surface and of its saved-computers list.
#include <string>

#include "app/agent_state.h"
#include "app/win_util.h"
#include "ui/main_window_win.h"
#include "ui/saved_list.h"
#include "ui/toolkit_win.h"
#include "ui/ui_state.h"

namespace {

UINT text_format(TextLayout layout)
{
    switch (layout) {
    case TextLayout::Plain:
        return DT_LEFT | DT_NOPREFIX;
    case TextLayout::SingleLineCentredVertically:
        return DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    case TextLayout::SingleLineCentred:
        return DT_CENTER | DT_SINGLELINE | DT_NOPREFIX;
    case TextLayout::FooterLine:
        return DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    }
    return DT_LEFT | DT_NOPREFIX;
}

void draw_surface_text(HDC dc, const MainWindowState& state, const SurfaceText& text)
{
    draw_ui_text(dc, text.text, to_rect(text.rect), state.font(text.font), text.colour,
                 text_format(text.layout));
}

int single_line_width(HDC dc, const wchar_t* text, HFONT font)
{
    HGDIOBJ old = SelectObject(dc, font);
    RECT box{0, 0, 0, 0};
    DrawTextW(dc, text, -1, &box, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    return box.right - box.left;
}

AgentStatus current_status()
{
    return agent_status({agent.viewer_connected, agent.config.accept_connections,
                         !agent.config.relay_host.empty(), !agent.relay_assigned_id.empty()});
}

void draw_shapes(Gdiplus::GpGraphics* g, const MainWindowState& state, const StatusPill& pill,
                 Colour dot)
{
    const RECT pill_rect = to_rect(pill.pill);
    fill_rounded_rect(g, pill_rect, PILL_RADIUS, Colour::Card);
    stroke_rounded_rect(g, pill_rect, PILL_RADIUS, Colour::Line, 1.0f);
    fill_circle(g, pill.dot_x, pill.dot_y, pill.dot_size, dot);

    for (const UiRect& card : MAIN_CARDS)
        draw_card(g, to_rect(card), CARD_RADIUS);

    const int focused_id = state.focused_field ? GetDlgCtrlID(state.focused_field) : 0;
    for (const FieldBox& box : MAIN_FIELD_BOXES) {
        const RECT rect = to_rect(box.rect);
        const Stroke stroke = field_box_stroke(box.control_id == focused_id);
        fill_rounded_rect(g, rect, FIELD_RADIUS, Colour::Field);
        stroke_rounded_rect(g, rect, FIELD_RADIUS, stroke.colour, stroke.width);
    }

    const RECT frame = to_rect(LIST_FRAME);
    fill_rounded_rect(g, frame, FIELD_RADIUS, Colour::Field);
    stroke_rounded_rect(g, frame, FIELD_RADIUS, Colour::Line, 1.0f);
}

void draw_surface(HDC dc, const MainWindowState& state)
{
    fill_solid(dc, {0, 0, MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT}, Colour::White);
    const AgentStatus status = current_status();
    const HFONT label = state.font(MainFont::Label);
    const StatusPill pill = status_pill(single_line_width(dc, status.text, label));
    {
        Canvas canvas(dc);
        draw_shapes(canvas.graphics, state, pill, status.dot);
    }  // GDI+ is flushed here, so the texts land on top

    for (const SurfaceText& text : MAIN_FIXED_TEXTS)
        draw_surface_text(dc, state, text);
    draw_ui_text(dc, status.text, to_rect(pill.text), label, Colour::Muted,
                 text_format(TextLayout::SingleLineCentredVertically));
    if (agent.launched_by_service)
        draw_surface_text(dc, state, SERVICE_HINT);
    if (ui.saved_list.empty()) {
        for (const SurfaceText& text : EMPTY_LIST_TEXTS)
            draw_surface_text(dc, state, text);
    }
    const std::wstring footer =
        footer_text(!agent.config.relay_host.empty(), utf8_to_wide(agent.relay_info.get()));
    draw_ui_text(dc, footer.c_str(), to_rect(FOOTER_RECT), state.font(MainFont::Footer),
                 Colour::Muted, text_format(TextLayout::FooterLine));
}

// The poller writes the values from its own thread.
int reachability_of(std::size_t index)
{
    EnterCriticalSection(&ui.saved_list_lock);
    const int value = index < ui.reachability.size() ? ui.reachability[index] : -1;
    LeaveCriticalSection(&ui.saved_list_lock);
    return value;
}

}  // namespace

void paint_main_window(HWND window, const MainWindowState& state)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    OffscreenBuffer buffer(dc, MAIN_CLIENT_WIDTH, MAIN_CLIENT_HEIGHT);
    if (buffer.dc) {
        draw_surface(buffer.dc, state);
        buffer.copy_to(dc, 0, 0);
    }
    EndPaint(window, &ps);
}

void paint_saved_item(const DRAWITEMSTRUCT& item, const MainWindowState& state)
{
    // Only the UI thread changes the list, so it is read here without the lock.
    const int index = int(item.itemID);
    if (index < 0 || index >= int(ui.saved_list.size()))
        return;
    const ServerEntry& entry = ui.saved_list[std::size_t(index)];
    const int width = item.rcItem.right - item.rcItem.left;
    const int height = item.rcItem.bottom - item.rcItem.top;
    OffscreenBuffer buffer(item.hDC, width, height);
    if (!buffer.dc)
        return;
    fill_solid(buffer.dc, {0, 0, width, height}, Colour::Field);

    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const ListItemColours colours =
        list_item_colours(selected, reachability_of(std::size_t(index)));
    const ListItemLayout layout = list_item_layout(width, height);
    {
        Canvas canvas(buffer.dc);
        if (selected)
            fill_rounded_rect(canvas.graphics, to_rect(layout.selection), SELECTION_RADIUS,
                              Colour::Selection);
        fill_circle(canvas.graphics, layout.dot_x, layout.dot_y, layout.dot_size, colours.dot);
    }
    const UINT format = DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    draw_ui_text(buffer.dc, list_item_title(entry).c_str(), to_rect(layout.title),
                 state.font(MainFont::ItemTitle), colours.title, format);
    draw_ui_text(buffer.dc, list_item_subtitle(entry).c_str(), to_rect(layout.subtitle),
                 state.font(MainFont::ItemSubtitle), colours.subtitle, format);
    buffer.copy_to(item.hDC, item.rcItem.left, item.rcItem.top);
}
