#pragma once
#include <windows.h>

#include "ui/server_entry.h"

// Adds or changes a saved computer in a modal dialog; the owner is disabled
// while it is open. True when the user confirmed valid input: the entry's
// fields were replaced under saved_list_lock. False on cancel or close: the
// entry is untouched.
bool edit_computer(HWND owner, ServerEntry& entry);
