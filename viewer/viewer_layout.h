#pragma once
// The viewer window's arithmetic: fitting the picture, mapping the pointer
// onto it, the frame rate, the monitor cycle and the texts. No Windows here.
#include <cstdint>
#include <string>

struct ImageRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The picture scaled into a client area with its aspect kept, centred.
ImageRect fit_picture(int client_width, int client_height, int canvas_width, int canvas_height);

// A client position over the painted picture as 0..65534 across and down;
// false on the bars around it or when nothing was painted.
bool picture_position(const ImageRect& image, int px, int py, std::uint16_t& x, std::uint16_t& y);

// Frames per second from arrival ticks in ms. The interval between frames is
// smoothed, 0.2 new to 0.8 old, rather than each instant rate: frames that
// arrive in bursts (a viewer catching up, segments coalesced on the way)
// would otherwise count as hundreds a second. Steady arrivals read the same.
struct FrameRate {
    std::uint64_t last_frame = 0;
    double interval_ms = 0.0;  // 0 until two frames have come in different ms
};
// Counts one frame arriving at `now`; returns the new fps_x10, or -1 while
// there is no rate yet (the first frame, and any in its millisecond).
std::int32_t count_frame(FrameRate& rate, std::uint64_t now);

// F4: all monitors, then 0, 1, ... last, then all again. -100 when there is
// nothing to switch between.
std::int32_t next_monitor(std::int32_t monitor_count, std::int32_t monitor_index);

// A notice over the picture (a copied folder, files that could not be saved):
// its text wraps within notice_text_width, and its box, the text with room
// around it, sits centred near the bottom of the client area, inside it.
int notice_text_width(int client_width);
ImageRect notice_box(int client_width, int client_height, int text_width, int text_height);
inline constexpr int NOTICE_PADDING_X = 20;  // the warning stripe is inside this on the left
inline constexpr int NOTICE_PADDING_Y = 10;

std::wstring viewer_title(bool control_enabled, std::int32_t monitor_count,
                          std::int32_t monitor_index);
std::wstring overlay_text(std::int32_t latency_ms, std::int32_t fps_x10);
