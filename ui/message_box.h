#pragma once
#include <windows.h>

// The program's own modal message box, in the look of the rest of the
// interface. Flags are the MB_* icon and MB_YESNO bits; returns IDOK, IDYES or
// IDNO (closing a question answers IDNO). Owner and text may be null. Runs
// a nested message loop on the calling thread, which may be any thread.
int show_message_box(HWND owner, const wchar_t* text, UINT flags);
