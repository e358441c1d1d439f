#pragma once
#include <windows.h>

// The agent's main window (ui.main_window); null while the process has none.
// Shown unless the service started the agent. The tray calls it again to
// re-create the window after destroying it.
HWND create_main_window(HINSTANCE instance);
