// The viewer's network thread: sends what the window queued, then reads one
// message from the agent and acts on it, pass after pass.
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/win_handles.h"
#include "app/win_util.h"
#include "capture/capture_area.h"
#include "capture/frame_payload.h"
#include "clipboard/clipboard_sync.h"
#include "net/message_io.h"
#include "net/relay_client.h"
#include "ui/message_box.h"
#include "viewer/viewer.h"

namespace {

constexpr ULONGLONG PING_INTERVAL_MS = 1000;
// The agent sends a frame on every pass of its loop, at least every 50 ms,
// even while its screen stands still. This long without a byte from it means
// the link died silently (a Wi-Fi drop, a NAT that forgot the connection):
// the read fails and the user hears that the connection is lost, instead of
// looking at a frozen picture until TCP gives up minutes later.
constexpr DWORD AGENT_SILENCE_MS = 10000;
// A send that cannot move for this long has no link under it either.
constexpr DWORD SEND_STALL_MS = 15000;
// Room for the latency and frame-rate overlay in the top-left corner.
constexpr RECT OVERLAY_CORNER{0, 0, 320, 48};

struct DecodedTile {
    std::uint16_t x, y, w, h;
    Gdiplus::GpBitmap* bitmap;
};

struct NetworkState {
    SSL* ssl = nullptr;
    ClipboardSyncState clipboard;
    std::vector<std::uint8_t> clip;
    ULONGLONG last_ping = 0;
    ULONGLONG ping_outstanding = 0;
    FrameRate rate;
};

Gdiplus::GpBitmap* decode_jpeg(const std::uint8_t* jpeg, std::uint32_t size)
{
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block)
        return nullptr;
    void* bytes = GlobalLock(block.get());
    if (!bytes)
        return nullptr;
    std::memcpy(bytes, jpeg, size);
    GlobalUnlock(block.get());
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block.get(), TRUE, &stream) != S_OK)
        return nullptr;
    block.release();  // the stream frees it
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap) != Gdiplus::Ok)
        bitmap = nullptr;
    stream->Release();
    return bitmap;
}

// Frames without tiles repaint nothing, so on a still screen the overlay
// would show its first figures for good: its corner is redrawn whenever a
// ping is answered, about once a second.
void refresh_overlay()
{
    if (HWND window = viewer.session.viewer_window)
        InvalidateRect(window, &OVERLAY_CORNER, FALSE);
}

// A canvas of the frame's size: the old one when it fits, else a new black one.
void ensure_canvas(int width, int height)
{
    ViewerSession& v = viewer.session;
    if (v.canvas && v.canvas_width == width && v.canvas_height == height)
        return;
    if (v.canvas)
        DeleteObject(v.canvas);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    v.canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    v.canvas_bits = v.canvas ? bits : nullptr;
    v.canvas_width = v.canvas ? width : 0;
    v.canvas_height = v.canvas ? height : 0;
    if (v.canvas_bits)
        std::memset(v.canvas_bits, 0, std::size_t(width) * height * 4);
}

void paint_tile(const DecodedTile& tile)
{
    using namespace Gdiplus;
    ViewerSession& v = viewer.session;
    UINT bitmap_width = 0, bitmap_height = 0;
    DllExports::GdipGetImageWidth(tile.bitmap, &bitmap_width);
    DllExports::GdipGetImageHeight(tile.bitmap, &bitmap_height);
    int cw = std::min<int>(tile.w, int(bitmap_width));
    int ch = std::min<int>(tile.h, int(bitmap_height));
    if (tile.x + cw > v.canvas_width)
        cw = v.canvas_width - tile.x;
    if (tile.y + ch > v.canvas_height)
        ch = v.canvas_height - tile.y;
    if (cw <= 0 || ch <= 0)
        return;
    Rect rect(0, 0, cw, ch);
    BitmapData data{};
    if (DllExports::GdipBitmapLockBits(tile.bitmap, &rect, ImageLockModeRead, PixelFormat32bppRGB,
                                       &data) != Ok)
        return;
    auto* canvas = static_cast<std::uint8_t*>(v.canvas_bits);
    for (int i = 0; i < ch; ++i)
        std::memcpy(canvas + (std::size_t(tile.y + i) * v.canvas_width + tile.x) * 4,
                    static_cast<const std::uint8_t*>(data.Scan0) + std::ptrdiff_t(data.Stride) * i,
                    std::size_t(cw) * 4);
    DllExports::GdipBitmapUnlockBits(tile.bitmap, &data);
}

// A clipboard failure for the window to show; the session goes on.
void show_notice(const std::wstring& text)
{
    if (text.empty())
        return;
    viewer.session.notice.set(text);
    if (HWND window = viewer.session.viewer_window)
        PostMessageW(window, WM_VIEWER_NOTICE, 0, 0);
}

// Takes one record at a time under its lock; the lock is never held while writing.
template <typename Event>
bool send_queue(SSL* ssl, std::uint8_t type, std::deque<Event>& queue, CRITICAL_SECTION& lock)
{
    for (;;) {
        EnterCriticalSection(&lock);
        if (queue.empty()) {
            LeaveCriticalSection(&lock);
            return true;
        }
        const Event event = queue.front();
        queue.pop_front();
        LeaveCriticalSection(&lock);
        if (!send_msg(ssl, type, event.bytes, sizeof event.bytes))
            return false;
    }
}

bool send_pending(NetworkState& n)
{
    ViewerSession& v = viewer.session;
    if (!send_queue(n.ssl, MSG_MOUSE, v.mouse_queue, v.mouse_lock) ||
        !send_queue(n.ssl, MSG_KEY, v.key_queue, v.key_lock))
        return false;
    if (v.cad_requested.exchange(false) && !send_msg(n.ssl, MSG_CTRL_ALT_DEL, nullptr, 0))
        return false;
    const std::int32_t monitor = v.pending_monitor.exchange(NO_PENDING_MONITOR);
    if (monitor != NO_PENDING_MONITOR) {
        const std::uint8_t index = std::uint8_t(monitor & 0xFF);
        if (!send_msg(n.ssl, MSG_SELECT_MONITOR, &index, 1))
            return false;
    }
    std::wstring error;
    const bool captured = capture_clipboard_files(n.clipboard, n.clip, error);
    show_notice(error);
    if (captured && n.clip.size() <= MAX_PAYLOAD &&
        !send_msg(n.ssl, MSG_CLIPBOARD, n.clip.data(), n.clip.size()))
        return false;
    const ULONGLONG now = precise_milliseconds();
    if (n.ping_outstanding == 0 && now - n.last_ping >= PING_INTERVAL_MS) {
        if (!send_msg(n.ssl, MSG_PING, nullptr, 0))
            return false;
        n.last_ping = n.ping_outstanding = now;
    }
    return true;
}

void handle(NetworkState& n, const Message& message)
{
    ViewerSession& v = viewer.session;
    switch (message.type) {
    case MSG_FRAME:
        if (message.size == 0)
            return;
        decode_frame(message.payload, message.size);
        if (const std::int32_t fps_x10 = count_frame(n.rate, precise_milliseconds()); fps_x10 >= 0)
            v.fps_x10.exchange(fps_x10);
        return;
    case MSG_PONG:
        if (n.ping_outstanding != 0) {
            v.latency_ms.exchange(std::int32_t(precise_milliseconds() - n.ping_outstanding));
            n.ping_outstanding = 0;
            refresh_overlay();
        }
        return;
    case MSG_MONITOR_INFO: {
        MonitorAnnouncement info;
        if (!read_monitor_info(message.payload, message.size, info))
            return;
        v.monitor_count.exchange(info.count);
        v.monitor_index.exchange(info.index);
        if (v.viewer_window)
            PostMessageW(v.viewer_window, WM_VIEWER_MONITORS, 0, 0);
        return;
    }
    case MSG_CLIPBOARD:
        if (message.size > 0) {
            std::wstring error;
            apply_clipboard_files(n.clipboard, message.payload, message.size, error);
            show_notice(error);
        }
        return;
    default:
        return;
    }
}

void bound_waits(SSL* ssl)
{
    const SOCKET s = SOCKET(SSL_get_fd(ssl));
    set_receive_timeout(s, AGENT_SILENCE_MS);
    const DWORD send_ms = SEND_STALL_MS;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_ms), sizeof send_ms);
}

void run_passes(NetworkState& n)
{
    while (viewer.session.running) {
        if (!send_pending(n))
            return;
        Message message;
        if (!read_msg(n.ssl, message))
            return;
        handle(n, message);
        free_message(message);
    }
}

} // namespace

void decode_frame(const std::uint8_t* payload, std::size_t size)
{
    FrameReader reader;
    FrameHeader header;
    if (!begin_frame(reader, payload, size, header))
        return;
    std::vector<DecodedTile> tiles;
    tiles.reserve(header.count);
    FrameTileView view;
    while (next_frame_tile(reader, view)) {
        if (Gdiplus::GpBitmap* bitmap = decode_jpeg(view.jpeg, view.size))
            tiles.push_back({view.x, view.y, view.w, view.h, bitmap});
    }
    ViewerSession& v = viewer.session;
    EnterCriticalSection(&v.canvas_lock);
    ensure_canvas(header.width, header.height);
    if (v.canvas_bits) {
        GdiFlush();
        for (const DecodedTile& tile : tiles)
            paint_tile(tile);
    }
    LeaveCriticalSection(&v.canvas_lock);
    for (const DecodedTile& tile : tiles)
        Gdiplus::DllExports::GdipDisposeImage(tile.bitmap);
    if (v.viewer_window)
        InvalidateRect(v.viewer_window, nullptr, FALSE);
}

DWORD WINAPI network_thread(void* cell)
{
    NetworkState n;
    n.ssl = *std::unique_ptr<SSL*>(static_cast<SSL**>(cell));
    bound_waits(n.ssl);
    run_passes(n);
    if (viewer.session.running.exchange(false))
        show_message_box(nullptr,
                         L"Соединение с удалённым компьютером потеряно (сеть, перезагрузка или "
                         L"сеанс завершён на той стороне).",
                         MB_ICONWARNING);
    if (viewer.session.viewer_window)
        PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
    return 0;
}
