#pragma once
#include <windows.h>

// The tray icon's hidden window and the always-on-top banner; null until made.
extern HWND tray_window;
extern HWND banner_window;

HWND create_banner();
void create_tray();
void remove_tray_icon();
void update_tray();
void update_banner_size();
void update_banner_visibility();
