#pragma once
#include <windows.h>

// The tray icon's window and the banner are kept in ui.tray_window and
// ui.banner_window (ui/ui_state.h).
HWND create_banner();
void create_tray();
void remove_tray_icon();
void update_tray();
void update_banner_size();
void update_banner_visibility();
// Hides the main window to the tray, telling the user once where it went.
void show_tray_balloon_once();
