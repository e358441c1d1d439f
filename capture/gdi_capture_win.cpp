#include <winsock2.h>
#include <windows.h>

#include <cwchar>

#include "app/win_handles.h"
#include "capture/screen_capture.h"

CaptureState::~CaptureState() { close_capture_desktop(*this); }

void release_capture_objects(CaptureState& state)
{
    if (state.memory_dc && state.previous_object) {
        SelectObject(state.memory_dc, state.previous_object);
        state.previous_object = nullptr;
    }
    if (state.dib) {
        DeleteObject(state.dib);
        state.dib = nullptr;
    }
    if (state.memory_dc) {
        DeleteDC(state.memory_dc);
        state.memory_dc = nullptr;
    }
    if (state.screen_dc) {
        ReleaseDC(nullptr, state.screen_dc);
        state.screen_dc = nullptr;
    }
    state.bits = nullptr;
}

bool create_capture_objects(CaptureState& state)
{
    release_capture_objects(state);
    state.screen_dc = GetDC(nullptr);
    if (!state.screen_dc)
        return false;
    state.memory_dc = CreateCompatibleDC(state.screen_dc);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = state.geometry.area.width;
    info.bmiHeader.biHeight = -state.geometry.area.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    state.dib = CreateDIBSection(state.screen_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (state.dib && bits && state.memory_dc) {
        state.bits = static_cast<std::uint8_t*>(bits);
        state.previous_object = SelectObject(state.memory_dc, state.dib);
        state.history.previous_valid = false;
        return true;
    }
    release_capture_objects(state);
    return false;
}

namespace {

// The desktop's name, at most DESKTOP_NAME_CHARS - 1 characters; empty if unreadable.
void desktop_name_of(HDESK desktop, wchar_t (&name)[DESKTOP_NAME_CHARS])
{
    std::wmemset(name, 0, DESKTOP_NAME_CHARS);
    DWORD needed = 0;
    GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name, &needed);
    name[DESKTOP_NAME_CHARS - 1] = 0;
}

} // namespace

bool follow_input_desktop(CaptureState& state)
{
    UniqueDesktop input(OpenInputDesktop(0, FALSE, GENERIC_ALL));
    if (!input)
        return state.desktop && state.memory_dc;  // go on with what is there
    wchar_t name[DESKTOP_NAME_CHARS];
    desktop_name_of(input.get(), name);
    if (state.desktop && std::wcscmp(name, state.desktop_name) == 0)
        return true;

    release_capture_objects(state);
    if (!state.original_desktop)
        state.original_desktop = GetThreadDesktop(GetCurrentThreadId());
    if (!SetThreadDesktop(input.get()))
        return false;
    std::wmemcpy(state.desktop_name, name, DESKTOP_NAME_CHARS);
    if (state.desktop)
        CloseDesktop(state.desktop);
    state.desktop = input.release();
    return create_capture_objects(state);
}

bool grab_frame(CaptureState& state)
{
    if ((!state.bits || !state.memory_dc || !state.screen_dc) && !create_capture_objects(state))
        return false;
    // A failed copy leaves the previous pixels, which then count as unchanged.
    BitBlt(state.memory_dc, 0, 0, state.geometry.area.width, state.geometry.area.height,
           state.screen_dc, state.geometry.area.left, state.geometry.area.top, SRCCOPY);
    GdiFlush();
    return true;
}

void close_capture_desktop(CaptureState& state)
{
    release_capture_objects(state);
    if (!state.desktop)
        return;
    if (state.original_desktop && GetThreadDesktop(GetCurrentThreadId()) == state.desktop)
        SetThreadDesktop(state.original_desktop);
    CloseDesktop(state.desktop);
    state.desktop = nullptr;
    state.desktop_name[0] = 0;
}
