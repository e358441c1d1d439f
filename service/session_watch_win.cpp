#include "service/session_watch.h"

#include "app/win_handles.h"
#include "app/win_util.h"
#include "ui/ui_state.h"

DWORD WINAPI watch_session_notify(void*)
{
    constexpr wchar_t NAME[] = L"Global\\OrvaneSessionNotify";
    UniqueHandle event(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, NAME));
    if (!event)
        event.reset(CreateEventW(nullptr, TRUE, FALSE, NAME));
    if (!event) {
        report_win32_failure("CreateEvent");
        return 0;
    }
    while (WaitForSingleObject(event.get(), INFINITE) == WAIT_OBJECT_0) {
        ResetEvent(event.get());
        if (ui.tray_window)
            PostMessageW(ui.tray_window, WM_REBUILD_UI, 0, 0);
    }
    return 0;
}
