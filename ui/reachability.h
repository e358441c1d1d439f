#pragma once
#include <windows.h>

// Posted to ui.main_window after each pass of the poller.
inline constexpr UINT WM_REACHABILITY = WM_APP + 3;

// Probes the saved computers every 10 s and asks the relay for its version.
DWORD WINAPI reachability_poller(void*);
