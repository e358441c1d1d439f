#pragma once
#include <windows.h>

// The program's message box: flags are MB_* icon and button flags; returns
// IDOK, IDYES or IDNO. Owner and text may be null.
int show_message_box(HWND owner, const wchar_t* text, UINT flags);
