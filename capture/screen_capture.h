#pragma once
// One viewer session's capture: the monitor list and capture area, the GDI
// objects the screen is copied into, the input desktop the session thread
// follows, and the previous frame. Owned by the session thread alone.
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "capture/capture_area.h"
#include "capture/frame_encoder.h"
#include "capture/jpeg_tiles.h"

inline constexpr int DESKTOP_NAME_CHARS = 128;

struct CaptureState {
    CaptureGeometry geometry;
    FrameHistory history;

    HDC screen_dc = nullptr;            // GetDC of the whole screen
    HDC memory_dc = nullptr;            // holds the DIB section
    HBITMAP dib = nullptr;              // top-down 32-bit, the capture area's size
    std::uint8_t* bits = nullptr;       // the DIB section's pixels
    HGDIOBJ previous_object = nullptr;  // what memory_dc held before the DIB section

    HDESK desktop = nullptr;            // the input desktop the thread was last switched to
    wchar_t desktop_name[DESKTOP_NAME_CHARS] = {};
    HDESK original_desktop = nullptr;   // the thread's desktop before the first switch; not ours

    CaptureState() = default;
    CaptureState(const CaptureState&) = delete;
    CaptureState& operator=(const CaptureState&) = delete;
    // Releases the GDI objects and the held desktop (close_capture_desktop),
    // on the thread that used them.
    ~CaptureState();
};

// The displays attached to the desktop, sorted; the virtual screen when none is.
void enumerate_monitors(CaptureState& state);
// Rebuilds the list when due (always with force, else at most once a second)
// and chooses the capture area; false when nothing can be captured now.
bool refresh_capture_area(CaptureState& state, bool force);

// Screen DC, memory DC and DIB section of the area's size; false leaves none.
bool create_capture_objects(CaptureState& state);
// Frees the GDI objects; the desktop handle stays.
void release_capture_objects(CaptureState& state);
// Puts the thread on the desktop that receives input; true when capture can go on.
bool follow_input_desktop(CaptureState& state);
// Copies the capture area from the screen into the DIB section.
bool grab_frame(CaptureState& state);
// At session end: the GDI objects, then the held desktop. The thread goes
// back to the desktop it started on first, since a desktop in use by the
// thread cannot be closed.
void close_capture_desktop(CaptureState& state);

// The MSG_FRAME payload of the last grab; returns the tile count.
int encode_frame(CaptureState& state, std::vector<std::uint8_t>& out);
