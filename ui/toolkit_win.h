#pragma once
// Drawing and controls in the shared look: GDI+ rounded shapes and cards,
// owner-drawn buttons with hover tracking, fonts, the dialogs' shared
// resources and the field edits. Used on the user-interface thread.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <string>

#include "ui/toolkit.h"

COLORREF to_colorref(Colour colour);
Gdiplus::ARGB to_argb(Colour colour, BYTE alpha = 255);
RECT to_rect(const UiRect& rect);

// Starts GDI+ once for the process and keeps it running, so that boxes shown
// before the agent's own start-up or by a test program can paint.
bool ensure_gdiplus();

// "Segoe UI" at `height` pixels (character height) and `weight`, ClearType.
HFONT create_ui_font(int height, int weight);
// The text metric height of the font on the screen.
int font_line_height(HFONT font);

// An off-screen bitmap compatible with `target`, for flicker-free painting.
struct OffscreenBuffer {
    OffscreenBuffer(HDC target, int width, int height);
    ~OffscreenBuffer();
    OffscreenBuffer(const OffscreenBuffer&) = delete;
    OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;
    void copy_to(HDC target, int x, int y) const;

    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    int width = 0;
    int height = 0;
};

// GDI+ drawing on a device context, anti-aliased; flushed when it goes away,
// so GDI text drawn afterwards lands on top.
struct Canvas {
    explicit Canvas(HDC dc);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    Gdiplus::GpGraphics* graphics = nullptr;
};

// Adds one closed rounded figure; returns the first GDI+ failure and goes on
// adding the remaining corners. A zero corner gives a plain rectangle.
Gdiplus::GpStatus add_rounded_rect_path(Gdiplus::GpPath* path, float x, float y, float width,
                                        float height, float radius);
void fill_rounded_rect(Gdiplus::GpGraphics* graphics, const RECT& rect, float radius,
                       Colour colour, BYTE alpha = 255);
// The stroke lies inside the rectangle.
void stroke_rounded_rect(Gdiplus::GpGraphics* graphics, const RECT& rect, float radius,
                         Colour colour, float width);
// A card: a soft four-layer shadow, the Card surface and a 1-pixel Line border.
void draw_card(Gdiplus::GpGraphics* graphics, const RECT& rect, float radius);
void fill_circle(Gdiplus::GpGraphics* graphics, float x, float y, float diameter, Colour colour);

void fill_solid(HDC dc, const RECT& rect, Colour colour);
// Text with a transparent background; `format` holds DrawText flags.
void draw_ui_text(HDC dc, const wchar_t* text, const RECT& rect, HFONT font, Colour colour,
                  UINT format);

// Per owner-drawn button; lives exactly as long as the button.
struct ButtonState {
    std::int32_t kind;  // a ButtonKind
    bool hover;         // the mouse is over the button
    bool tracking;      // a leave notification has been requested
};

// Gives a BUTTON (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW) its
// font, its kind and hover tracking.
void attach_button_style(HWND button, HFONT font, ButtonKind kind);
void set_button_kind(HWND button, ButtonKind kind);
// The button's state, or null for a button without the style.
const ButtonState* button_state(HWND button);
// Creates an owner-drawn button and attaches the style; null on failure.
HWND create_owner_button(HWND parent, const wchar_t* text, int x, int y, int width, int height,
                         int id, HFONT font, ButtonKind kind);
// For the parent's WM_DRAWITEM; `background` is what lies behind the button.
void paint_owner_button(const DRAWITEMSTRUCT* item, Colour background);

// Fonts and brushes shared by the dialogs, made on first use and kept for the
// life of the process.
struct DialogResources {
    HFONT title;   // 20/600
    HFONT label;   // 13/400
    HFONT edit;    // 15/400
    HFONT hint;    // 12/400
    HFONT button;  // 15/600
    HBRUSH field_brush;
    HBRUSH white_brush;
};
const DialogResources& dialog_resources();

// The outer rectangle of a window with this client size and these styles,
// centred on the primary screen.
RECT centred_window_rect(int client_width, int client_height, DWORD style, DWORD ex_style);

// A modal window's own loop on the calling thread, until `done` is set. A quit
// message that ends it early is handed on to the loop outside; a window still
// there at the end is destroyed, as it points at its caller's stack frame.
void run_modal_loop(HWND window, const bool& done);

// A borderless EDIT centred in a field box drawn by the parent at box_left,
// box_top, box_width wide and FIELD_BOX_HEIGHT high.
HWND create_field_edit(HWND parent, int box_left, int box_top, int box_width, HFONT font,
                       DWORD extra_style, int control_id);

// Puts the text on the clipboard as CF_UNICODETEXT; an empty text, a busy
// clipboard or a failed allocation leaves it alone. False then.
bool put_clipboard_text(HWND owner, const std::wstring& text);
