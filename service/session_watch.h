#pragma once
#include <windows.h>

inline constexpr UINT WM_REBUILD_UI = WM_APP + 2;
// Set by the service on log-on and log-off, cleared by the agent.
inline constexpr wchar_t SESSION_NOTIFY_EVENT[] = L"Global\\OrvaneSessionNotify";

// Agent side: waits for the service's log-on/log-off signal and asks the tray
// window to rebuild the interface on the new input desktop.
DWORD WINAPI watch_session_notify(void*);
