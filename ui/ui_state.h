#pragma once
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/saved_list.h"

// The interface's process-wide state: its windows, null until made, and the
// saved computers with what the poller found out about them.
struct UiState {
    HWND main_window = nullptr;
    // The tray icon's hidden window; other threads post to it.
    std::atomic<HWND> tray_window = nullptr;
    HWND banner_window = nullptr;  // the always-on-top banner
    // Set while the tray destroys and re-creates the windows on another
    // desktop, so that their going does not end the program.
    bool rebuilding = false;

    // Shared by the main thread and the reachability poller, under saved_list_lock.
    std::vector<ServerEntry> saved_list;
    std::vector<int> reachability;  // per entry: 1 reachable, 0 not, -1 unknown
    CRITICAL_SECTION saved_list_lock;
    std::wstring saved_list_path;  // servers.ini; set by the main window before the first load
};

extern UiState ui;

// Initialises ui.saved_list_lock once; every thread that takes it calls this first.
void init_saved_list_lock();
