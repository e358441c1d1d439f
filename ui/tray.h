#pragma once
// The notification-area icon with its tooltip and menu, owned by a hidden
// window (ui.tray_window), which also rebuilds the interface on the input
// desktop when the service asks (WM_REBUILD_UI). Everything here runs on the
// interface thread, except post_agent_state_changed.
#include <windows.h>

#include <span>

#include "credentials/protected_storage.h"
#include "ui/banner.h"

inline constexpr UINT WM_TRAY_NOTIFY = WM_APP + 1;  // from the icon
// The agent's state that the banner and the tray show has changed.
inline constexpr UINT WM_AGENT_STATE = WM_APP + 4;

// Creates the tray window and adds the icon; while the taskbar is not there
// yet it retries for about a minute, and again whenever the shell restarts.
void create_tray(HINSTANCE instance);

// Sets the icon and the tooltip from the agent's current state.
void update_tray();

// Hides the main window to the tray, telling the user once where it went.
void show_tray_balloon_once();

// The menu's "Новый пароль": a new random password, stored protected and
// shown. False, after telling the user, when no system generator works: the
// old password then stays, rather than one that could be guessed.
bool renew_agent_password(std::span<const RandomSource> sources = system_random_sources());

// At shutdown: takes the icon out of the notification area.
void remove_tray_icon();

// Any thread: the banner and the tray refresh from the agent's state. Posted,
// so the caller never waits on the interface thread, however busy it is.
void post_agent_state_changed();
