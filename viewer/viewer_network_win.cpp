// The viewer's network thread: the only reader and writer of the session. It
// sends what the window queues as soon as it is queued, and reads and acts on
// the agent's messages as they come.
#include <winsock2.h>
#include <windows.h>

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
#include "viewer/tile_decoder.h"
#include "viewer/viewer.h"

namespace {

constexpr ULONGLONG PING_INTERVAL_MS = 1000;
// The agent sends a frame on every pass of its loop, at least every 50 ms,
// even while its screen stands still. This long without a byte from it means
// the link died silently (a Wi-Fi drop, a NAT that forgot the connection):
// the session ends and the user hears that the connection is lost, instead of
// looking at a frozen picture until TCP gives up minutes later.
constexpr DWORD AGENT_SILENCE_MS = 10000;
// A send that cannot move for this long has no link under it either.
constexpr DWORD SEND_STALL_MS = 15000;
// Room for the latency and frame-rate overlay in the top-left corner.
constexpr RECT OVERLAY_CORNER{0, 0, 320, 48};

struct NetworkState {
    SSL* ssl = nullptr;
    ClipboardSyncState clipboard;
    std::vector<std::uint8_t> clip;
    ULONGLONG last_ping = 0;
    ULONGLONG ping_outstanding = 0;
    FrameRate rate;
    ULONGLONG last_heard = 0;  // when the agent's last message began to arrive
    HANDLE socket_event = nullptr;  // the socket's readiness while the thread waits; not ours
};

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

// Once a message has begun, its rest may take as long as a retransmission
// needs; a send may stall as long as the agent's own.
void bound_waits(SSL* ssl)
{
    const SOCKET s = SOCKET(SSL_get_fd(ssl));
    set_receive_timeout(s, AGENT_SILENCE_MS);
    const DWORD send_ms = SEND_STALL_MS;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_ms), sizeof send_ms);
}

// How long the thread may wait before a ping is due.
DWORD until_next_ping(const NetworkState& n)
{
    if (n.ping_outstanding != 0)
        return DWORD(PING_INTERVAL_MS);
    const ULONGLONG now = precise_milliseconds();
    const ULONGLONG due = n.last_ping + PING_INTERVAL_MS;
    return now < due ? DWORD(due - now) : 0;
}

// Waits until the agent's next message has begun to arrive (1), or the window
// has queued something, a ping is due or the session is ending (0); -1 when
// the socket can no longer be watched. The socket is watched through an event
// only while waiting and is blocking again on return, for the reads and
// writes of the pass.
int wait_for_traffic(NetworkState& n)
{
    if (SSL_pending(n.ssl) > 0)
        return 1;
    const SOCKET s = SOCKET(SSL_get_fd(n.ssl));
    if (WSAEventSelect(s, n.socket_event, FD_READ | FD_CLOSE) != 0)
        return -1;
    int result = 1;
    u_long waiting = 0;
    if (ioctlsocket(s, FIONREAD, &waiting) != 0 || waiting == 0) {
        const HANDLE events[] = {n.socket_event, viewer.session.input_ready};
        result = WaitForMultipleObjects(2, events, FALSE, until_next_ping(n)) == WAIT_OBJECT_0;
    }
    u_long blocking = 0;
    if (WSAEventSelect(s, nullptr, 0) != 0 || ioctlsocket(s, FIONBIO, &blocking) != 0)
        return -1;
    WSAResetEvent(n.socket_event);
    return result;
}

void run_passes(NetworkState& n)
{
    while (viewer.session.running) {
        if (!send_pending(n))
            return;
        const int traffic = wait_for_traffic(n);
        if (traffic < 0)
            return;
        const ULONGLONG now = precise_milliseconds();
        if (traffic == 0) {
            if (now - n.last_heard >= AGENT_SILENCE_MS)
                return;  // the link died silently
            continue;
        }
        n.last_heard = now;
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
    ViewerSession& v = viewer.session;
    EnterCriticalSection(&v.canvas_lock);
    ensure_canvas(header.width, header.height);
    const bool painted_on = v.canvas_bits != nullptr;
    if (painted_on)
        GdiFlush();
    LeaveCriticalSection(&v.canvas_lock);
    // Each tile is decoded into the canvas under the lock of its own, so a
    // paint of the window waits for one tile at most, never for a frame.
    FrameTileView tile;
    while (painted_on && next_frame_tile(reader, tile)) {
        EnterCriticalSection(&v.canvas_lock);
        paint_jpeg_tile(
            tile, {static_cast<std::uint8_t*>(v.canvas_bits), v.canvas_width, v.canvas_height});
        LeaveCriticalSection(&v.canvas_lock);
    }
    if (v.viewer_window)
        InvalidateRect(v.viewer_window, nullptr, FALSE);
}

DWORD WINAPI network_thread(void* cell)
{
    NetworkState n;
    n.ssl = *std::unique_ptr<SSL*>(static_cast<SSL**>(cell));
    const UniqueHandle socket_event(WSACreateEvent());
    n.socket_event = socket_event.get();
    n.last_heard = precise_milliseconds();
    bound_waits(n.ssl);
    if (socket_event)
        run_passes(n);
    release_tile_decoder();
    if (viewer.session.running.exchange(false))
        show_message_box(nullptr,
                         L"Соединение с удалённым компьютером потеряно (сеть, перезагрузка или "
                         L"сеанс завершён на той стороне).",
                         MB_ICONWARNING);
    if (viewer.session.viewer_window)
        PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
    return 0;
}
