#include "service/session_watch.h"

#include "app/win_handles.h"
#include "app/win_util.h"
#include "ui/ui_state.h"

DWORD WINAPI watch_session_notify(void*)
{
    UniqueHandle event(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, SESSION_NOTIFY_EVENT));
    if (!event)
        event.reset(CreateEventW(nullptr, TRUE, FALSE, SESSION_NOTIFY_EVENT));
    if (!event) {
        report_win32_failure("CreateEvent");
        return 0;
    }
    while (WaitForSingleObject(event.get(), INFINITE) == WAIT_OBJECT_0) {
        ResetEvent(event.get());
        if (HWND tray = ui.tray_window)
            PostMessageW(tray, WM_REBUILD_UI, 0, 0);
    }
    return 0;
}
