#pragma once
// What the main window's procedure and its painting share.
#include <windows.h>

#include <array>

#include "ui/main_window_layout.h"

// One per main window, from WM_NCCREATE to WM_NCDESTROY; it owns the fonts
// and the brush, so a re-created window starts afresh and leaks nothing.
struct MainWindowState {
    MainWindowState();
    ~MainWindowState();
    MainWindowState(const MainWindowState&) = delete;
    MainWindowState& operator=(const MainWindowState&) = delete;

    HFONT font(MainFont which) const { return fonts[std::size_t(which)]; }

    HWND window = nullptr;
    bool created = false;  // WM_CREATE went through
    std::array<HFONT, MAIN_FONT_COUNT> fonts{};
    HBRUSH field_brush = nullptr;
    HWND focused_field = nullptr;  // the edit with the keyboard focus, if one of the four
};

// WM_PAINT: the whole surface, double-buffered.
void paint_main_window(HWND window, const MainWindowState& state);
// WM_DRAWITEM of the saved-computers list.
void paint_saved_item(const DRAWITEMSTRUCT& item, const MainWindowState& state);
