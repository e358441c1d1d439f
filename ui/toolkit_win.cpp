#include "ui/toolkit_win.h"

#include <commctrl.h>

#include <cstring>

#include "app/win_handles.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

COLORREF to_colorref(Colour colour)
{
    const auto rgb = std::uint32_t(colour);
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

ARGB to_argb(Colour colour, BYTE alpha)
{
    return (ARGB(alpha) << 24) | std::uint32_t(colour);
}

RECT to_rect(const UiRect& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

bool ensure_gdiplus()
{
    // The token is never shut down: the library stays up until the process ends.
    static const bool started = [] {
        GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return GdiplusStartup(&token, &input, nullptr) == Ok;
    }();
    return started;
}

HFONT create_ui_font(int height, int weight)
{
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

int font_line_height(HFONT font)
{
    HDC dc = GetDC(nullptr);
    if (!dc)
        return 0;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

OffscreenBuffer::OffscreenBuffer(HDC target, int width_, int height_)
    : width(width_), height(height_)
{
    if (width <= 0 || height <= 0)
        return;
    dc = CreateCompatibleDC(target);
    bitmap = dc ? CreateCompatibleBitmap(target, width, height) : nullptr;
    if (!bitmap) {
        if (dc)
            DeleteDC(dc);
        dc = nullptr;
        return;
    }
    old_bitmap = SelectObject(dc, bitmap);
}

OffscreenBuffer::~OffscreenBuffer()
{
    if (!dc)
        return;
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void OffscreenBuffer::copy_to(HDC target, int x, int y) const
{
    if (dc)
        BitBlt(target, x, y, width, height, dc, 0, 0, SRCCOPY);
}

Canvas::Canvas(HDC dc)
{
    if (!ensure_gdiplus() || GdipCreateFromHDC(dc, &graphics) != Ok) {
        graphics = nullptr;
        return;
    }
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
}

Canvas::~Canvas()
{
    if (graphics)
        GdipDeleteGraphics(graphics);
}

GpStatus add_rounded_rect_path(GpPath* path, float x, float y, float width, float height,
                               float radius)
{
    GpStatus first_failure = Ok;
    auto keep = [&first_failure](GpStatus status) {
        if (first_failure == Ok && status != Ok)
            first_failure = status;
    };
    if (corner_diameter(width, height, radius) <= 0.0f) {
        // GDI+ rejects arcs of no size; square corners are what was asked for.
        keep(GdipAddPathRectangle(path, x, y, width, height));
    } else {
        for (const CornerArc& arc : rounded_rect_arcs(x, y, width, height, radius))
            keep(GdipAddPathArc(path, arc.x, arc.y, arc.size, arc.size, arc.start_angle, 90.0f));
    }
    keep(GdipClosePathFigure(path));
    return first_failure;
}

namespace {

// A rounded path of the rectangle (x, y, width, height), freed on scope exit.
struct RoundedPath {
    RoundedPath(float x, float y, float width, float height, float radius)
    {
        if (GdipCreatePath(FillModeAlternate, &path) != Ok)
            path = nullptr;
        else
            add_rounded_rect_path(path, x, y, width, height, radius);
    }
    ~RoundedPath()
    {
        if (path)
            GdipDeletePath(path);
    }
    RoundedPath(const RoundedPath&) = delete;
    RoundedPath& operator=(const RoundedPath&) = delete;
    GpPath* path = nullptr;
};

void fill_path(GpGraphics* graphics, GpPath* path, ARGB colour)
{
    GpSolidFill* brush = nullptr;
    if (!graphics || !path || GdipCreateSolidFill(colour, &brush) != Ok)
        return;
    GdipFillPath(graphics, brush, path);
    GdipDeleteBrush(brush);
}

} // namespace

void fill_rounded_rect(GpGraphics* graphics, const RECT& rect, float radius, Colour colour,
                       BYTE alpha)
{
    RoundedPath shape(float(rect.left), float(rect.top), float(rect.right - rect.left),
                      float(rect.bottom - rect.top), radius);
    fill_path(graphics, shape.path, to_argb(colour, alpha));
}

void stroke_rounded_rect(GpGraphics* graphics, const RECT& rect, float radius, Colour colour,
                         float width)
{
    const float half = width / 2.0f;
    RoundedPath shape(float(rect.left) + half, float(rect.top) + half,
                      float(rect.right - rect.left) - width, float(rect.bottom - rect.top) - width,
                      radius);
    GpPen* pen = nullptr;
    if (!graphics || !shape.path || GdipCreatePen1(to_argb(colour), width, UnitPixel, &pen) != Ok)
        return;
    GdipDrawPath(graphics, pen, shape.path);
    GdipDeletePen(pen);
}

void draw_card(GpGraphics* graphics, const RECT& rect, float radius)
{
    const UiRect card{rect.left, rect.top, rect.right, rect.bottom};
    for (const ShadowLayer& layer : card_shadow_layers(card, radius)) {
        RECT box{layer.x, layer.y, layer.x + layer.width, layer.y + layer.height};
        fill_rounded_rect(graphics, box, layer.radius, Colour::Shadow, layer.alpha);
    }
    fill_rounded_rect(graphics, rect, radius, Colour::Card);
    stroke_rounded_rect(graphics, rect, radius, Colour::Line, 1.0f);
}

void fill_circle(GpGraphics* graphics, float x, float y, float diameter, Colour colour)
{
    GpSolidFill* brush = nullptr;
    if (!graphics || GdipCreateSolidFill(to_argb(colour), &brush) != Ok)
        return;
    GdipFillEllipse(graphics, brush, x, y, diameter, diameter);
    GdipDeleteBrush(brush);
}

void fill_solid(HDC dc, const RECT& rect, Colour colour)
{
    HBRUSH brush = CreateSolidBrush(to_colorref(colour));
    if (!brush)
        return;
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void draw_ui_text(HDC dc, const wchar_t* text, const RECT& rect, HFONT font, Colour colour,
                  UINT format)
{
    HGDIOBJ old_font = SelectObject(dc, font);
    const int old_mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF old_colour = SetTextColor(dc, to_colorref(colour));
    RECT box = rect;
    DrawTextW(dc, text, -1, &box, format);
    SetTextColor(dc, old_colour);
    SetBkMode(dc, old_mode);
    SelectObject(dc, old_font);
}

namespace {

LRESULT CALLBACK button_subclass_proc(HWND button, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR, DWORD_PTR ref_data)
{
    auto* state = reinterpret_cast<ButtonState*>(ref_data);
    switch (message) {
    case WM_SETCURSOR:
        if (IsWindowEnabled(button)) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return 1;
        }
        break;
    case WM_ERASEBKGND:
        return 1;  // the owner draw covers every pixel
    case WM_MOUSEMOVE:
        if (!state->tracking) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, button, 0};
            if (TrackMouseEvent(&track))
                state->tracking = true;
        }
        if (!state->hover) {
            state->hover = true;
            InvalidateRect(button, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        state->hover = false;
        state->tracking = false;
        InvalidateRect(button, nullptr, FALSE);
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(button, button_subclass_proc, 0);
        delete state;
        break;
    }
    return DefSubclassProc(button, message, wparam, lparam);
}

using GetWindowSubclassFn = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);

// The MinGW import library lacks this export, and older comctl32 versions
// have it only as ordinal 411. It is taken from the comctl32 already loaded
// for SetWindowSubclass, which keeps the records it reads.
GetWindowSubclassFn get_window_subclass()
{
    static const GetWindowSubclassFn function = [] {
        HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
        if (!comctl)
            return GetWindowSubclassFn(nullptr);
        FARPROC found = GetProcAddress(comctl, "GetWindowSubclass");
        if (!found)
            found = GetProcAddress(comctl, MAKEINTRESOURCEA(411));
        return reinterpret_cast<GetWindowSubclassFn>(reinterpret_cast<void*>(found));
    }();
    return function;
}

ButtonState* find_button_state(HWND button)
{
    DWORD_PTR ref_data = 0;
    GetWindowSubclassFn get_subclass = get_window_subclass();
    if (!button || !get_subclass || !get_subclass(button, button_subclass_proc, 0, &ref_data))
        return nullptr;
    return reinterpret_cast<ButtonState*>(ref_data);
}

} // namespace

void attach_button_style(HWND button, HFONT font, ButtonKind kind)
{
    SendMessageW(button, WM_SETFONT, WPARAM(font), TRUE);
    ButtonState* earlier = find_button_state(button);
    auto* state = new ButtonState{std::int32_t(kind), false, false};
    if (!SetWindowSubclass(button, button_subclass_proc, 0, DWORD_PTR(state))) {
        delete state;
        return;
    }
    delete earlier;  // attaching again replaces the record
}

const ButtonState* button_state(HWND button)
{
    return find_button_state(button);
}

void set_button_kind(HWND button, ButtonKind kind)
{
    ButtonState* state = find_button_state(button);
    if (!state)
        return;
    state->kind = std::int32_t(kind);
    InvalidateRect(button, nullptr, FALSE);
}

HWND create_owner_button(HWND parent, const wchar_t* text, int x, int y, int width, int height,
                         int id, HFONT font, ButtonKind kind)
{
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    HWND button = CreateWindowExW(0, L"BUTTON", text,
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y, width,
                                  height, parent, reinterpret_cast<HMENU>(INT_PTR(id)), instance,
                                  nullptr);
    if (button)
        attach_button_style(button, font, kind);
    return button;
}

void paint_owner_button(const DRAWITEMSTRUCT* item, Colour background)
{
    const ButtonState* state = button_state(item->hwndItem);
    const bool pressed = (item->itemState & ODS_SELECTED) != 0;
    const bool disabled = (item->itemState & ODS_DISABLED) != 0;
    const ButtonLook look = button_look(state ? ButtonKind(state->kind) : ButtonKind::Secondary,
                                        pressed, state && state->hover, disabled);

    const int width = item->rcItem.right - item->rcItem.left;
    const int height = item->rcItem.bottom - item->rcItem.top;
    OffscreenBuffer buffer(item->hDC, width, height);
    if (!buffer.dc)
        return;
    const RECT whole{0, 0, width, height};
    fill_solid(buffer.dc, whole, background);
    {
        Canvas canvas(buffer.dc);
        fill_rounded_rect(canvas.graphics, whole, button_radius(height), look.fill);
    }
    wchar_t text[129] = {};
    GetWindowTextW(item->hwndItem, text, 129);
    const int shift = pressed ? 1 : 0;  // the label sinks with the press
    auto font = reinterpret_cast<HFONT>(SendMessageW(item->hwndItem, WM_GETFONT, 0, 0));
    draw_ui_text(buffer.dc, text, {0, shift, width, height + shift}, font, look.text,
                 DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    buffer.copy_to(item->hDC, item->rcItem.left, item->rcItem.top);
}

const DialogResources& dialog_resources()
{
    static const DialogResources resources = [] {
        DialogResources r{};
        r.title = create_ui_font(20, 600);
        r.label = create_ui_font(13, 400);
        r.edit = create_ui_font(15, 400);
        r.hint = create_ui_font(12, 400);
        r.button = create_ui_font(15, 600);
        r.field_brush = CreateSolidBrush(to_colorref(Colour::Field));
        r.white_brush = CreateSolidBrush(to_colorref(Colour::White));
        return r;
    }();
    return resources;
}

HWND create_field_edit(HWND parent, int box_left, int box_top, int box_width, HFONT font,
                       DWORD extra_style, int control_id)
{
    const UiRect place = field_edit_rect(box_left, box_top, box_width, font_line_height(font));
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    HWND edit = CreateWindowExW(0, L"EDIT", L"", extra_style | WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                place.left, place.top, place.width(), place.height(), parent,
                                reinterpret_cast<HMENU>(INT_PTR(control_id)), instance, nullptr);
    if (edit)
        SendMessageW(edit, WM_SETFONT, WPARAM(font), TRUE);
    return edit;
}

RECT centred_window_rect(int client_width, int client_height, DWORD style, DWORD ex_style)
{
    RECT outer{0, 0, client_width, client_height};
    AdjustWindowRectEx(&outer, style, FALSE, ex_style);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {x, y, x + width, y + height};
}

void run_modal_loop(HWND window, const bool& done)
{
    MSG msg;
    while (!done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(int(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        if (!IsDialogMessageW(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (!done)
        DestroyWindow(window);
}

bool put_clipboard_text(HWND owner, const std::wstring& text)
{
    if (text.empty() || !OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    bool placed = false;
    if (void* at = memory ? GlobalLock(memory.get()) : nullptr) {
        std::memcpy(at, text.c_str(), bytes);
        GlobalUnlock(memory.get());
        // The clipboard owns the block once it took it.
        placed = SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr;
        if (placed)
            memory.release();
    }
    CloseClipboard();
    return placed;
}
