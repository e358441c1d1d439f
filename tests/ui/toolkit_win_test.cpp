// Drawing routines, owner-drawn buttons, dialog resources and field edits,
// checked on real windows and real pixels.
#include <gtest/gtest.h>

#include <algorithm>

#include "ui/toolkit_win.h"
#include "ui_test_support.h"

namespace {

// A white bitmap to draw on, with its pixels readable.
struct Surface {
    Surface(int width, int height) : buffer(screen(), width, height)
    {
        fill_solid(buffer.dc, {0, 0, width, height}, Colour::White);
    }
    static HDC screen()
    {
        static HDC dc = GetDC(nullptr);
        return dc;
    }
    COLORREF at(int x, int y) const { return GetPixel(buffer.dc, x, y); }
    OffscreenBuffer buffer;
};

} // namespace

TEST(Drawing, PaletteReachesGdiAndGdiplusUnchanged)
{
    EXPECT_EQ(to_colorref(Colour::Accent), RGB(0x47, 0x99, 0xD5));
    EXPECT_EQ(to_argb(Colour::Accent), 0xFF4799D5u);
    EXPECT_EQ(to_argb(Colour::Shadow, 10), 0x0A6B5B4Bu);
}

TEST(Drawing, OversizedRadiusGivesAStadiumAndNoRadiusSquareCorners)
{
    Surface s(60, 30);
    {
        Canvas canvas(s.buffer.dc);
        ASSERT_NE(canvas.graphics, nullptr);
        fill_rounded_rect(canvas.graphics, {10, 5, 50, 25}, 100.0f, Colour::Accent);
    }
    const COLORREF accent = to_colorref(Colour::Accent), white = to_colorref(Colour::White);
    EXPECT_EQ(s.at(30, 15), accent);
    EXPECT_EQ(s.at(13, 15), accent);  // inside the left half-disc of radius 10
    EXPECT_EQ(s.at(12, 7), white);    // outside it, though a radius of 5 would fill it
    EXPECT_EQ(s.at(47, 22), white);

    Surface square(60, 30);
    {
        Canvas canvas(square.buffer.dc);
        fill_rounded_rect(canvas.graphics, {10, 5, 50, 25}, 0.0f, Colour::Accent);
    }
    EXPECT_EQ(square.at(11, 6), accent);
    EXPECT_EQ(square.at(48, 23), accent);
    EXPECT_EQ(square.at(8, 6), white);
}

TEST(Drawing, StrokeStaysInsideTheRectangle)
{
    Surface s(60, 40);
    {
        Canvas canvas(s.buffer.dc);
        stroke_rounded_rect(canvas.graphics, {10, 10, 50, 30}, 0.0f, Colour::Ink, 2.0f);
    }
    const COLORREF ink = to_colorref(Colour::Ink), white = to_colorref(Colour::White);
    EXPECT_EQ(s.at(30, 10), ink) << "top edge";
    EXPECT_EQ(s.at(10, 20), ink) << "left edge";
    EXPECT_EQ(s.at(49, 20), ink) << "right edge, last pixel inside";
    EXPECT_EQ(s.at(30, 29), ink) << "bottom edge, last pixel inside";
    EXPECT_EQ(s.at(30, 8), white);
    EXPECT_EQ(s.at(51, 20), white);
    EXPECT_EQ(s.at(30, 31), white);
    EXPECT_EQ(s.at(30, 20), white) << "a stroke, not a fill";
}

TEST(Drawing, CardHasASurfaceABorderAndAShadowBelow)
{
    Surface s(100, 100);
    {
        Canvas canvas(s.buffer.dc);
        draw_card(canvas.graphics, {20, 20, 80, 70}, 10.0f);
    }
    EXPECT_EQ(s.at(50, 45), to_colorref(Colour::Card));
    // The border lies on the card's top edge (where rasterizers put a
    // 1-pixel line inside the rectangle differs by half a pixel).
    int darkest = 255;
    for (int y = 19; y <= 21; ++y)
        darkest = std::min(darkest, int(GetRValue(s.at(50, y))));
    EXPECT_EQ(darkest, GetRValue(to_colorref(Colour::Line)));
    const COLORREF below = s.at(50, 72);
    EXPECT_LT(GetRValue(below), 255) << "shadow under the card";
    EXPECT_LT(GetGValue(below), GetRValue(below)) << "a warm shadow";
    EXPECT_EQ(s.at(50, 80), to_colorref(Colour::White)) << "the shadow ends 7 pixels below";
    EXPECT_EQ(s.at(50, 16), to_colorref(Colour::White)) << "and 1 pixel above";
    EXPECT_EQ(s.at(12, 45), to_colorref(Colour::White)) << "and 4 to the side";
}

TEST(Fonts, LineHeightGrowsWithTheFont)
{
    HFONT small = create_ui_font(12, 400), large = create_ui_font(22, 600);
    EXPECT_GE(font_line_height(small), 12);
    EXPECT_GT(font_line_height(large), font_line_height(small));
    DeleteObject(small);
    DeleteObject(large);
}

TEST(DialogResources, SharedFontsAndBrushes)
{
    const DialogResources& r = dialog_resources();
    EXPECT_EQ(&r, &dialog_resources()) << "one set for the process";
    struct Case { HFONT font; int height, weight; };
    const Case cases[] = {{r.title, 20, 600}, {r.label, 13, 400}, {r.edit, 15, 400},
                          {r.hint, 12, 400}, {r.button, 15, 600}};
    for (const Case& c : cases) {
        LOGFONTW font{};
        ASSERT_EQ(GetObjectW(c.font, sizeof font, &font), int(sizeof font));
        EXPECT_EQ(font.lfHeight, -c.height);
        EXPECT_EQ(font.lfWeight, c.weight);
        EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
        EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
        EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    }
    struct BrushCase { HBRUSH brush; Colour colour; };
    for (const BrushCase& c : {BrushCase{r.field_brush, Colour::Field},
                               BrushCase{r.white_brush, Colour::White}}) {
        LOGBRUSH brush{};
        ASSERT_EQ(GetObjectW(c.brush, sizeof brush, &brush), int(sizeof brush));
        EXPECT_EQ(brush.lbStyle, UINT(BS_SOLID));
        EXPECT_EQ(brush.lbColor, to_colorref(c.colour));
    }
}

TEST(FieldEdit, BorderlessAndCentredInItsBox)
{
    TestParent parent;
    HFONT font = dialog_resources().edit;
    const int f = font_line_height(font);
    HWND edit = create_field_edit(parent.hwnd, 38, 100, 350, font, ES_PASSWORD, 104);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(child_rect(edit), to_rect(field_edit_rect(38, 100, 350, f)));
    EXPECT_EQ(child_rect(edit).left, 52);
    EXPECT_EQ(child_rect(edit).bottom - child_rect(edit).top, f + 1);
    const LONG style = GetWindowLongW(edit, GWL_STYLE);
    for (LONG bit : {LONG(WS_CHILD), LONG(WS_VISIBLE), LONG(ES_AUTOHSCROLL), LONG(ES_PASSWORD)})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_EQ(style & WS_BORDER, 0);
    EXPECT_EQ(GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(GetDlgCtrlID(edit), 104);
    EXPECT_EQ(HFONT(SendMessageW(edit, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(GetWindowTextLengthW(edit), 0);
    wchar_t cls[16] = {};
    GetClassNameW(edit, cls, 16);
    EXPECT_STREQ(cls, L"Edit");
}

TEST(OwnerButton, StyleCarriesFontKindAndFollowsTheMouse)
{
    TestParent parent;
    HFONT font = dialog_resources().button;
    HWND button = create_owner_button(parent.hwnd, L"Удалить", 10, 10, 98, 34, 3004, font,
                                      ButtonKind::Danger);
    ASSERT_NE(button, nullptr);
    const LONG style = GetWindowLongW(button, GWL_STYLE);
    EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(style & WS_TABSTOP, WS_TABSTOP);
    EXPECT_EQ(HFONT(SendMessageW(button, WM_GETFONT, 0, 0)), font);
    const ButtonState* state = button_state(button);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->kind, int(ButtonKind::Danger));
    EXPECT_FALSE(state->hover);

    set_button_kind(button, ButtonKind::Primary);
    EXPECT_EQ(state->kind, int(ButtonKind::Primary));

    // Over, off and over again: each entry asks for a new leave notice.
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(state->hover);
    EXPECT_TRUE(state->tracking);
    SendMessageW(button, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(state->hover);
    EXPECT_FALSE(state->tracking);
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(6, 5));
    EXPECT_TRUE(state->hover);
    EXPECT_TRUE(state->tracking);

    EXPECT_EQ(SendMessageW(button, WM_ERASEBKGND, 0, 0), 1);
    EXPECT_EQ(button_state(parent.hwnd), nullptr);
}

TEST(OwnerButton, HandCursorOnlyWhenEnabled)
{
    TestParent parent;
    HWND button = create_owner_button(parent.hwnd, L"OK", 0, 0, 92, 32, 1,
                                      dialog_resources().button, ButtonKind::Primary);
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    SetCursor(nullptr);
    EXPECT_EQ(SendMessageW(button, WM_SETCURSOR, WPARAM(button), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_EQ(GetCursor(), hand);
    EnableWindow(button, FALSE);
    SetCursor(nullptr);
    SendMessageW(button, WM_SETCURSOR, WPARAM(button), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), hand);
}

TEST(OwnerButton, PaintedFillFollowsKindAndState)
{
    TestParent parent;
    HWND styled = create_owner_button(parent.hwnd, L"", 0, 0, 60, 30, 1,
                                      dialog_resources().button, ButtonKind::Primary);
    HWND plain = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | BS_OWNERDRAW, 0, 40, 60, 30,
                                 parent.hwnd, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    using K = ButtonKind;
    struct Case { HWND button; K kind; bool hover; UINT item_state; Colour fill; };
    const Case cases[] = {
        {styled, K::Primary, false, 0, Colour::Accent},
        {styled, K::Primary, true, 0, Colour::AccentHover},
        {styled, K::Primary, true, ODS_SELECTED, Colour::AccentPressed},
        {styled, K::Primary, true, ODS_SELECTED | ODS_DISABLED, Colour::AccentDisabled},
        {styled, K::Secondary, true, 0, Colour::Field},
        {styled, K::Danger, false, ODS_SELECTED, Colour::DangerHover},
        {styled, K::Quiet, false, ODS_DISABLED, Colour::Card},
        {plain, K::Primary, true, 0, Colour::Neutral},  // no state: Secondary, not hovered
        {plain, K::Primary, false, ODS_SELECTED, Colour::Line},
    };
    for (const Case& c : cases) {
        set_button_kind(c.button, c.kind);
        if (c.hover)
            SendMessageW(c.button, WM_MOUSEMOVE, 0, 0);
        else
            SendMessageW(c.button, WM_MOUSELEAVE, 0, 0);
        Surface s(80, 50);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = c.button;
        item.hDC = s.buffer.dc;
        item.rcItem = {10, 10, 70, 40};
        item.itemState = c.item_state;
        paint_owner_button(&item, Colour::Card);
        const COLORREF fill = to_colorref(c.fill);
        const std::string what = "kind " + std::to_string(int(c.kind)) + " hover " +
                                 std::to_string(c.hover) + " state " +
                                 std::to_string(c.item_state);
        EXPECT_EQ(s.at(15, 25), fill) << what;
        EXPECT_EQ(s.at(65, 15), fill) << what;
        EXPECT_EQ(s.at(10, 10), to_colorref(Colour::Card)) << what << ": rounded corner";
        EXPECT_EQ(s.at(5, 25), to_colorref(Colour::White)) << what << ": outside the item";
    }
}
