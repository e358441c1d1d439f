#include "service/session_watch.h"

#include "ui/tray.h"

DWORD WINAPI watch_session_notify(void*)
{
    constexpr wchar_t NAME[] = L"Global\\OrvaneSessionNotify";
    HANDLE event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, NAME);
    if (!event)
        event = CreateEventW(nullptr, TRUE, FALSE, NAME);
    if (!event)
        return 0;
    while (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
        ResetEvent(event);
        if (tray_window)
            PostMessageW(tray_window, WM_REBUILD_UI, 0, 0);
    }
    CloseHandle(event);
    return 0;
}
