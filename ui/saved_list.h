#pragma once
// The saved computers in servers.ini beside the executable; in memory they
// are ui.saved_list (ui/ui_state.h), shared with the reachability poller
// under ui.saved_list_lock.
#include <string>

#include "ui/server_entry.h"

// servers.ini in the executable's directory; the main window puts it in
// ui.saved_list_path before the first load.
std::wstring default_saved_list_path();

// Replaces the list with the file's entries; a missing file is an empty list.
void load_saved_list();
// Writes the whole list. The old file is replaced only by a complete new
// one; when that fails the user is told (owner: the main window) and the
// list in memory stays as it is. True when the file was written.
bool save_saved_list();
