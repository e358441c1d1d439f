#pragma once
#include <windows.h>

// The agent's main window (ui.main_window); null while the process has none.
HWND create_main_window();
