#pragma once
#include <windows.h>

extern HWND main_window;

// The agent's main window; null while the process has none.
HWND create_main_window();
