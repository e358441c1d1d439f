#include <winsock2.h>
#include <windows.h>

#include "capture/screen_capture.h"

namespace {

// The display's mode as a monitor; false for one that cannot be read or has no size.
bool monitor_of_device(const DISPLAY_DEVICEW& device, MonitorInfo& out)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsExW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode, 0))
        return false;
    out.left = mode.dmPosition.x;
    out.top = mode.dmPosition.y;
    out.width = std::int32_t(mode.dmPelsWidth);
    out.height = std::int32_t(mode.dmPelsHeight);
    out.primary = (device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) != 0;
    return out.width > 0 && out.height > 0;
}

void list_monitors(void*, std::vector<MonitorInfo>& monitors)
{
    for (DWORD index = 0;; ++index) {
        DISPLAY_DEVICEW device{};
        device.cb = sizeof device;
        if (!EnumDisplayDevicesW(nullptr, index, &device, 0))
            break;
        MonitorInfo monitor;
        if ((device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) &&
            monitor_of_device(device, monitor))
            monitors.push_back(monitor);
    }
    if (!monitors.empty())
        return;
    MonitorInfo whole{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                      GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                      true};
    if (whole.width > 0 && whole.height > 0)
        monitors.push_back(whole);
}

} // namespace

void enumerate_monitors(CaptureState& state)
{
    state.geometry.monitors.clear();
    list_monitors(nullptr, state.geometry.monitors);
    sort_monitors(state.geometry.monitors);
}

bool refresh_capture_area(CaptureState& state, bool force)
{
    switch (refresh_capture_geometry(state.geometry, state.history, force, GetTickCount64(),
                                     list_monitors, nullptr)) {
    case AreaRefresh::kept:
    case AreaRefresh::same:
        return true;
    case AreaRefresh::unusable:
        return false;
    case AreaRefresh::changed:
        // Objects made for the old size would grab the wrong rectangle.
        return state.memory_dc ? create_capture_objects(state) : true;
    }
    return false;
}
