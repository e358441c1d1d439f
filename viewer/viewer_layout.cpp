#include "viewer/viewer_layout.h"

#include <algorithm>
#include <cstdio>

ImageRect fit_picture(int client_width, int client_height, int canvas_width, int canvas_height)
{
    const double scale = std::min(double(client_width) / canvas_width,
                                  double(client_height) / canvas_height);
    const int width = int(canvas_width * scale);
    const int height = int(canvas_height * scale);
    const int x0 = (client_width - width) / 2;
    const int y0 = (client_height - height) / 2;
    return {x0, y0, x0 + width, y0 + height};
}

namespace {
constexpr int NOTICE_MARGIN = 24;  // from the client area's sides and bottom
constexpr int NOTICE_MIN_TEXT = 120;
} // namespace

int notice_text_width(int client_width)
{
    return std::max(client_width - 2 * (NOTICE_MARGIN + NOTICE_PADDING_X), NOTICE_MIN_TEXT);
}

ImageRect notice_box(int client_width, int client_height, int text_width, int text_height)
{
    const int width = std::min(text_width + 2 * NOTICE_PADDING_X, client_width);
    const int height = std::min(text_height + 2 * NOTICE_PADDING_Y, client_height);
    const int left = (client_width - width) / 2;
    const int top = std::max(client_height - NOTICE_MARGIN - height, 0);
    return {left, top, left + width, top + height};
}

bool picture_position(const ImageRect& image, int px, int py, std::uint16_t& x, std::uint16_t& y)
{
    const int width = image.right - image.left;
    const int height = image.bottom - image.top;
    if (width <= 0 || height <= 0)
        return false;
    if (px < image.left || px >= image.right || py < image.top || py >= image.bottom)
        return false;
    x = std::uint16_t(double(px - image.left) / width * 65535.0);
    y = std::uint16_t(double(py - image.top) / height * 65535.0);
    return true;
}

std::int32_t count_frame(FrameRate& rate, std::uint64_t now)
{
    std::int32_t fps_x10 = -1;
    if (rate.last_frame != 0) {
        const double interval = double(now - rate.last_frame);
        if (rate.interval_ms > 0)
            rate.interval_ms = 0.2 * interval + 0.8 * rate.interval_ms;
        else
            rate.interval_ms = interval;
        if (rate.interval_ms > 0)
            fps_x10 = std::int32_t(10000.0 / rate.interval_ms + 0.5);
    }
    rate.last_frame = now;
    return fps_x10;
}

std::int32_t next_monitor(std::int32_t monitor_count, std::int32_t monitor_index)
{
    if (monitor_count <= 1)
        return -100;
    if (monitor_index < 0)
        return 0;
    return monitor_index + 1 < monitor_count ? monitor_index + 1 : -1;
}

std::wstring viewer_title(bool control_enabled, std::int32_t monitor_count,
                          std::int32_t monitor_index)
{
    const std::wstring base = control_enabled
        ? L"Orvane — УПРАВЛЕНИЕ (F2 — выкл, F3 — Ctrl+Alt+Del"
        : L"Orvane — просмотр (F2 — управление, F3 — Ctrl+Alt+Del";
    if (monitor_count < 2)
        return base + L")";
    const std::wstring monitor = monitor_index < 0
        ? L"все мониторы"
        : L"монитор " + std::to_wstring(monitor_index + 1) + L" из " +
              std::to_wstring(monitor_count);
    return base + L", F4 — монитор)  ·  " + monitor;
}

std::wstring overlay_text(std::int32_t latency_ms, std::int32_t fps_x10)
{
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.1f fps", fps_x10 / 10.0);
    std::wstring text(fps, fps + std::char_traits<char>::length(fps));
    if (latency_ms < 0)
        return text;
    return std::to_wstring(latency_ms) + L" ms  |  " + text;
}
