// The viewer window: paints the remote picture scaled into the client area
// and turns local mouse and keys into queued events for the network thread.
#include <objidl.h>
#include <gdiplus.h>

#include "viewer/viewer.h"

namespace {

constexpr COLORREF BAR_COLOUR = RGB(20, 20, 20);
constexpr COLORREF WAITING_TEXT_COLOUR = RGB(200, 200, 200);
constexpr Gdiplus::ARGB OVERLAY_BACK = 0xAA141414;
constexpr Gdiplus::ARGB OVERLAY_TEXT = 0xFFFFFFFF;
// A notice stays this long unless a newer one replaces it.
constexpr UINT_PTR NOTICE_TIMER = 1;
constexpr UINT NOTICE_SHOWN_MS = 6000;
constexpr Gdiplus::ARGB NOTICE_BACK = 0xE6202124;
constexpr Gdiplus::ARGB NOTICE_STRIPE = 0xFFF2B356;  // the interface's warning colour
constexpr int NOTICE_STRIPE_WIDTH = 4;

void paint_canvas(HDC target, int width, int height)
{
    ViewerSession& v = viewer.session;
    const ImageRect image = fit_picture(width, height, v.canvas_width, v.canvas_height);
    RECT client{0, 0, width, height};
    HBRUSH bars = CreateSolidBrush(BAR_COLOUR);
    FillRect(target, &client, bars);
    DeleteObject(bars);
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ old = SelectObject(source, v.canvas);
    const int dw = image.right - image.left;
    const int dh = image.bottom - image.top;
    if (dw == v.canvas_width && dh == v.canvas_height) {
        BitBlt(target, image.left, image.top, dw, dh, source, 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, image.left, image.top, dw, dh, source, 0, 0, v.canvas_width,
                   v.canvas_height, SRCCOPY);
    }
    SelectObject(source, old);
    DeleteDC(source);
    v.image_rect = image;
}

void paint_waiting(HDC target, int width, int height)
{
    RECT client{0, 0, width, height};
    FillRect(target, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(target, WAITING_TEXT_COLOUR);
    SetBkMode(target, TRANSPARENT);
    DrawTextW(target, L"Подключение...", -1, &client, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

// Segoe UI where it exists; GDI+ does not substitute fonts (Wine has no Segoe
// UI and no working generic family), so the first installed sans face after it.
const Gdiplus::FontFamily* overlay_family()
{
    static const Gdiplus::FontFamily* family = [] {
        for (const wchar_t* name : {L"Segoe UI", L"Tahoma", L"DejaVu Sans", L"Liberation Sans"}) {
            auto* candidate = new Gdiplus::FontFamily(name);
            if (candidate->GetLastStatus() == Gdiplus::Ok)
                return static_cast<const Gdiplus::FontFamily*>(candidate);
            delete candidate;
        }
        return Gdiplus::FontFamily::GenericSansSerif();
    }();
    return family;
}

void paint_overlay(HDC target)
{
    using namespace Gdiplus;
    const std::wstring text =
        overlay_text(viewer.session.latency_ms.load(), viewer.session.fps_x10.load());
    Graphics graphics(target);
    graphics.SetTextRenderingHint(TextRenderingHintAntiAlias);
    Font font(overlay_family(), 11, FontStyleBold, UnitPixel);
    RectF bounds;
    graphics.MeasureString(text.c_str(), INT(text.size()), &font, PointF(0, 0), &bounds);
    SolidBrush back{Color(OVERLAY_BACK)};
    graphics.FillRectangle(&back, 8.0f, 8.0f, bounds.Width + 16, bounds.Height + 10);
    SolidBrush ink{Color(OVERLAY_TEXT)};
    graphics.DrawString(text.c_str(), INT(text.size()), &font, PointF(16, 13), &ink);
}

// The notice in a dark box near the bottom, over the picture or the waiting text.
void paint_notice(HDC target, int width, int height)
{
    using namespace Gdiplus;
    const std::wstring& text = viewer.session.notice_shown;
    if (text.empty())
        return;
    Graphics graphics(target);
    graphics.SetTextRenderingHint(TextRenderingHintAntiAlias);
    Font font(overlay_family(), 14, FontStyleRegular, UnitPixel);
    RectF measured;
    graphics.MeasureString(text.c_str(), INT(text.size()), &font,
                           RectF(0, 0, REAL(notice_text_width(width)), REAL(height)), nullptr,
                           &measured);
    const ImageRect box =
        notice_box(width, height, int(measured.Width + 1), int(measured.Height + 1));
    SolidBrush back{Color(NOTICE_BACK)};
    graphics.FillRectangle(&back, box.left, box.top, box.right - box.left, box.bottom - box.top);
    SolidBrush stripe{Color(NOTICE_STRIPE)};
    graphics.FillRectangle(&stripe, box.left, box.top, NOTICE_STRIPE_WIDTH, box.bottom - box.top);
    SolidBrush ink{Color(OVERLAY_TEXT)};
    const RectF area(REAL(box.left + NOTICE_PADDING_X), REAL(box.top + NOTICE_PADDING_Y),
                     measured.Width + 1, measured.Height + 1);
    graphics.DrawString(text.c_str(), INT(text.size()), &font, area, nullptr, &ink);
}

void on_notice(HWND window)
{
    viewer.session.notice_shown = viewer.session.notice.get();
    SetTimer(window, NOTICE_TIMER, NOTICE_SHOWN_MS, nullptr);  // a newer one starts it afresh
    InvalidateRect(window, nullptr, FALSE);
}

void on_notice_expired(HWND window)
{
    KillTimer(window, NOTICE_TIMER);
    viewer.session.notice_shown.clear();
    InvalidateRect(window, nullptr, FALSE);
}

void on_paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    EnterCriticalSection(&viewer.session.canvas_lock);
    if (viewer.session.canvas && viewer.session.canvas_width > 0) {
        paint_canvas(memory, width, height);
        paint_overlay(memory);
    } else {
        paint_waiting(memory, width, height);
    }
    LeaveCriticalSection(&viewer.session.canvas_lock);
    paint_notice(memory, width, height);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &ps);
}

std::uint8_t mouse_action(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN: return MOUSE_LEFT_DOWN;
    case WM_LBUTTONUP: return MOUSE_LEFT_UP;
    case WM_RBUTTONDOWN: return MOUSE_RIGHT_DOWN;
    case WM_RBUTTONUP: return MOUSE_RIGHT_UP;
    case WM_MBUTTONDOWN: return MOUSE_MIDDLE_DOWN;
    case WM_MBUTTONUP: return MOUSE_MIDDLE_UP;
    case WM_MOUSEWHEEL: return MOUSE_WHEEL;
    default: return MOUSE_MOVE;
    }
}

void on_mouse(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!viewer.session.control_enabled)
        return;
    POINT position{short(LOWORD(lparam)), short(HIWORD(lparam))};
    if (message == WM_MOUSEWHEEL)
        ScreenToClient(window, &position);
    std::uint16_t x = 0, y = 0;
    if (!picture_position(viewer.session.image_rect, position.x, position.y, x, y))
        return;
    const std::uint8_t action = mouse_action(message);
    const std::int16_t wheel = action == MOUSE_WHEEL ? std::int16_t(HIWORD(wparam)) : 0;
    queue_mouse_event(action, x, y, wheel);
}

void queue_key_event(WPARAM vk, bool down, LPARAM lparam)
{
    KeyEvent event;
    write_key_payload(event.bytes, std::uint16_t(vk & 0xFFFF), down, (lparam >> 24) & 1);
    EnterCriticalSection(&viewer.session.key_lock);
    if (viewer.session.key_queue.size() < MAX_QUEUED_EVENTS)
        viewer.session.key_queue.push_back(event);
    LeaveCriticalSection(&viewer.session.key_lock);
    wake_network_thread();
}

// Returns true when the key was ours; false sends it on to DefWindowProcW.
bool on_key(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    ViewerSession& v = viewer.session;
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool plain = message == WM_KEYDOWN || message == WM_KEYUP;
    if (wparam == VK_F2) {
        if (down) {
            v.control_enabled = !v.control_enabled;
            update_viewer_title(window);
        }
        return true;
    }
    if (wparam == VK_F4 && plain) {
        const std::int32_t next = next_monitor(v.monitor_count, v.monitor_index);
        if (down && next != NO_PENDING_MONITOR) {
            v.pending_monitor.exchange(next);
            wake_network_thread();
        }
        return true;
    }
    if (wparam == VK_F3) {
        if (down) {
            v.cad_requested = true;
            wake_network_thread();
        }
        return true;
    }
    if (!v.control_enabled)
        return false;  // Alt+F4 and the system menu keep working locally
    queue_key_event(wparam, down, lparam);
    return true;
}

} // namespace

void queue_mouse_event(std::uint8_t action, std::uint16_t x, std::uint16_t y, std::int16_t wheel)
{
    MouseEvent event;
    write_mouse_payload(event.bytes, action, x, y, wheel);
    EnterCriticalSection(&viewer.session.mouse_lock);
    if (viewer.session.mouse_queue.size() < MAX_QUEUED_EVENTS)
        viewer.session.mouse_queue.push_back(event);
    LeaveCriticalSection(&viewer.session.mouse_lock);
    wake_network_thread();
}

void wake_network_thread()
{
    if (viewer.session.input_ready)
        SetEvent(viewer.session.input_ready);
}

void update_viewer_title(HWND window)
{
    SetWindowTextW(window, viewer_title(viewer.session.control_enabled,
                                        viewer.session.monitor_count, viewer.session.monitor_index)
                               .c_str());
}

LRESULT CALLBACK viewer_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_DESTROY:
        viewer.session.notice_shown.clear();
        viewer.session.running = false;
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        on_paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (on_key(window, message, wparam, lparam))
            return 0;
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
        on_mouse(window, message, wparam, lparam);
        return 0;
    case WM_VIEWER_MONITORS:
        update_viewer_title(window);
        return 0;
    case WM_VIEWER_NOTICE:
        on_notice(window);
        return 0;
    case WM_TIMER:
        if (wparam != NOTICE_TIMER)
            break;
        on_notice_expired(window);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}
