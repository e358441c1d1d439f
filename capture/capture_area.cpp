#include "capture/capture_area.h"

#include <algorithm>
#include <new>

#include "app/agent_log.h"
#include "net/little_endian.h"

void sort_monitors(std::vector<MonitorInfo>& monitors)
{
    std::sort(monitors.begin(), monitors.end(), [](const MonitorInfo& a, const MonitorInfo& b) {
        return a.left != b.left ? a.left < b.left : a.top < b.top;
    });
}

ScreenRect bounding_rect(const std::vector<MonitorInfo>& monitors)
{
    if (monitors.empty())
        return {};
    std::int64_t left = monitors[0].left, top = monitors[0].top;
    std::int64_t right = left + monitors[0].width, bottom = top + monitors[0].height;
    for (const MonitorInfo& m : monitors) {
        left = std::min<std::int64_t>(left, m.left);
        top = std::min<std::int64_t>(top, m.top);
        right = std::max<std::int64_t>(right, std::int64_t(m.left) + m.width);
        bottom = std::max<std::int64_t>(bottom, std::int64_t(m.top) + m.height);
    }
    auto side = [](std::int64_t v) { return std::int32_t(std::min<std::int64_t>(v, INT32_MAX)); };
    return {std::int32_t(left), std::int32_t(top), side(right - left), side(bottom - top)};
}

MonitorChoice choose_monitor(const std::vector<MonitorInfo>& monitors, std::int32_t requested)
{
    auto rect_of = [](const MonitorInfo& m) {
        return ScreenRect{m.left, m.top, m.width, m.height};
    };
    const std::int32_t count = std::int32_t(monitors.size());
    if (count == 1)
        return {0, rect_of(monitors[0])};
    if (requested == ALL_MONITORS)
        return {ALL_MONITORS, bounding_rect(monitors)};
    if (requested >= 0 && requested < count)
        return {requested, rect_of(monitors[std::size_t(requested)])};
    for (std::int32_t i = 0; i < count; ++i) {
        if (monitors[std::size_t(i)].primary)
            return {i, rect_of(monitors[std::size_t(i)])};
    }
    return {0, rect_of(monitors[0])};
}

namespace {

bool enumeration_due(const CaptureGeometry& geometry, bool force, std::uint64_t now)
{
    return force || geometry.area.width < 1 ||
           now - geometry.last_enumeration >= ENUMERATION_INTERVAL_MS;
}

// Stores a new area and makes the buffers fit it; false when they cannot.
bool take_area(CaptureGeometry& geometry, FrameHistory& history, const ScreenRect& rect)
{
    const std::size_t stride = std::size_t(rect.width) * 4;
    try {
        history.previous_frame.resize(stride * std::size_t(rect.height));
    } catch (const std::bad_alloc&) {
        // Leave no area set, so the next refresh tries again from scratch.
        geometry.area = {};
        geometry.stride = 0;
        history.previous_frame.clear();
        history.previous_frame.shrink_to_fit();
        history.previous_valid = false;
        return false;
    }
    geometry.area = rect;
    geometry.stride = std::int32_t(stride);
    history.previous_valid = false;
    return true;
}

} // namespace

AreaRefresh refresh_capture_geometry(CaptureGeometry& geometry, FrameHistory& history,
                                     bool force, std::uint64_t now,
                                     EnumerateMonitors enumerate, void* ctx)
{
    if (!enumeration_due(geometry, force, now))
        return AreaRefresh::kept;
    geometry.last_enumeration = now;
    geometry.monitors.clear();
    enumerate(ctx, geometry.monitors);
    sort_monitors(geometry.monitors);
    if (geometry.monitors.empty())
        return AreaRefresh::unusable;

    geometry.virtual_bounds = bounding_rect(geometry.monitors);
    MonitorChoice choice = choose_monitor(geometry.monitors, geometry.requested_monitor);
    if (choice.rect.width < 1 || choice.rect.height < 1)
        return AreaRefresh::unusable;
    choice.rect.width = std::min(choice.rect.width, MAX_AREA_SIDE);
    choice.rect.height = std::min(choice.rect.height, MAX_AREA_SIDE);
    geometry.streamed_monitor = choice.index;
    if (choice.rect == geometry.area)
        return AreaRefresh::same;

    log_info("[i] capture area %dx%d at (%d,%d), monitor %d of %d\n", choice.rect.width,
             choice.rect.height, choice.rect.left, choice.rect.top, choice.index,
             int(geometry.monitors.size()));
    return take_area(geometry, history, choice.rect) ? AreaRefresh::changed
                                                     : AreaRefresh::unusable;
}

MonitorAnnouncement monitor_announcement(const CaptureGeometry& geometry)
{
    // One byte each on the wire; no desktop has anywhere near 127 monitors.
    const int count = int(std::min<std::size_t>(geometry.monitors.size(), 255));
    return {count, std::clamp(geometry.streamed_monitor, -1, 127)};
}

void write_monitor_info(const MonitorAnnouncement& info,
                        std::uint8_t (&payload)[MONITOR_INFO_SIZE])
{
    payload[0] = std::uint8_t(info.count);
    payload[1] = std::uint8_t(std::int8_t(info.index));
}

bool read_monitor_info(const std::uint8_t* payload, std::size_t size, MonitorAnnouncement& info)
{
    LeReader fields(payload, size);
    std::uint8_t count = 0, index = 0;
    if (!fields.read_u8(count) || !fields.read_u8(index))
        return false;
    info.count = count;
    info.index = std::int8_t(index);
    return true;
}
