#include "ui/message_box.h"

// The system box stands in until the program's own styled box exists.
int show_message_box(HWND owner, const wchar_t* text, UINT flags)
{
    int result = MessageBoxW(owner, text ? text : L"", L"Orvane", flags);
    return result == IDYES || result == IDNO ? result : IDOK;
}
