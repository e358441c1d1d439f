#pragma once
// The always-on-top banner at the top edge of the screen (ui.banner_window):
// it tells whoever sits at the machine that it can be reached, and turns red
// while the screen is being broadcast. Interface thread only; other threads
// ask for a refresh with post_agent_state_changed (ui/tray.h).
#include <windows.h>

// Creates the banner (hidden: update_banner_visibility shows it) and sizes it
// to its text. Null when it cannot be created.
HWND create_banner(HINSTANCE instance);

// Fits the banner's width to its current text around its centre, and repaints it.
void update_banner_size();

// Shows the banner while a viewer is connected or connections are accepted,
// and keeps the machine awake meanwhile; hides it otherwise.
void update_banner_visibility();
