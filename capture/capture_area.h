#pragma once
// The monitor list and the rectangle a session streams: one monitor or the
// bounding rectangle of all of them. No Windows here; the enumeration itself
// is handed in, so the choice is the same code on every build.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/frame_encoder.h"

// One display in desktop coordinates (physical pixels; the primary monitor's
// top-left corner is (0,0)).
struct MonitorInfo {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool primary = false;
};

struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const ScreenRect&) const = default;
};

inline constexpr int ALL_MONITORS = -1;       // requested or streamed: the whole desktop
inline constexpr int NO_MONITOR_REQUESTED = -2;
inline constexpr std::uint64_t ENUMERATION_INTERVAL_MS = 1000;
// Frame payloads carry sizes in 16 bits; a larger area is cut to its top-left part.
inline constexpr std::int32_t MAX_AREA_SIDE = 65535;

struct CaptureGeometry {
    ScreenRect area;             // what is captured, in desktop coordinates
    std::int32_t stride = 0;     // bytes per row of the capture buffers: area width * 4
    ScreenRect virtual_bounds;   // bounding rectangle of all listed monitors
    std::vector<MonitorInfo> monitors;  // sorted by left, then top
    std::int32_t requested_monitor = NO_MONITOR_REQUESTED;
    std::int32_t streamed_monitor = 0;
    std::uint64_t last_enumeration = 0;  // GetTickCount64 of the last rebuild
};

// Leftmost first, top first where left is equal; the primary flag plays no part.
void sort_monitors(std::vector<MonitorInfo>& monitors);

ScreenRect bounding_rect(const std::vector<MonitorInfo>& monitors);

struct MonitorChoice {
    std::int32_t index = 0;  // ALL_MONITORS for the bounding rectangle
    ScreenRect rect;
};
// The monitor to stream for `requested` (list not empty): the only one, all of
// them for ALL_MONITORS, the requested one when it exists, else the first
// primary, else the first.
MonitorChoice choose_monitor(const std::vector<MonitorInfo>& monitors, std::int32_t requested);

enum class AreaRefresh {
    kept,       // within the throttle interval: nothing looked at
    unusable,   // no monitor, or nothing of positive size: no capture now
    same,       // the list was rebuilt and the area stays
    changed,    // a new area: logged, buffers resized, the next frame complete
};

// Fills the monitor list (already emptied) with the displays as they are now.
using EnumerateMonitors = void (*)(void* ctx, std::vector<MonitorInfo>& monitors);

// Rebuilds the list when due (always with force; otherwise when no area is set
// yet or ENUMERATION_INTERVAL_MS have passed since `now` of the last rebuild)
// and chooses the area. A change writes "[i] capture area ..." to standard
// output, resizes previous_frame to stride * height and clears previous_valid.
AreaRefresh refresh_capture_geometry(CaptureGeometry& geometry, FrameHistory& history,
                                     bool force, std::uint64_t now,
                                     EnumerateMonitors enumerate, void* ctx);

// MSG_MONITOR_INFO: byte 0 the monitor count (unsigned), byte 1 the streamed
// index (signed, -1 for all monitors).
inline constexpr std::size_t MONITOR_INFO_SIZE = 2;
struct MonitorAnnouncement {
    int count = 0;
    int index = 0;
};
MonitorAnnouncement monitor_announcement(const CaptureGeometry& geometry);
void write_monitor_info(const MonitorAnnouncement& info,
                        std::uint8_t (&payload)[MONITOR_INFO_SIZE]);
// False for a payload shorter than two bytes, which is ignored.
bool read_monitor_info(const std::uint8_t* payload, std::size_t size, MonitorAnnouncement& info);
