#include "ui/tray.h"

#include "ui/ui_state.h"

// The tray icon, its menu and the banner come with the desktop interface; until
// then the agent has neither and these keep their callers' contracts.
HWND create_banner() { return nullptr; }
void create_tray() {}
void remove_tray_icon() {}
void update_tray() {}
void update_banner_size() {}
void update_banner_visibility() {}

void show_tray_balloon_once()
{
    if (ui.main_window)
        ShowWindow(ui.main_window, SW_HIDE);
}
