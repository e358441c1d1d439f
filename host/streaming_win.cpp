// The session engine: about 30 passes a second of clipboard, capture, frame
// and the viewer's messages, all on the accept thread.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "app/agent_log.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "capture/pass_probe.h"
#include "capture/screen_capture.h"
#include "clipboard/clipboard_sync.h"
#include "host/input.h"
#include "host/session.h"
#include "net/message_io.h"
#include "net/tls.h"
#include "ui/tray.h"

namespace {

constexpr ULONGLONG FRAME_PERIOD_MS = 33;
constexpr DWORD NO_CAPTURE_WAIT_MS = 50;
constexpr int NOT_ANNOUNCED = -100;

// Physical pixels for the capture geometry; the mode is chosen once per process.
void make_thread_dpi_aware()
{
    static std::once_flag once;
    static const char* mode = nullptr;
    using SetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    static SetContextFn set_context = nullptr;
    std::call_once(once, [] {
        set_context = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    });
    if (!set_context) {
        SetProcessDPIAware();
        mode = "process system-aware";
    } else if (set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        mode = "thread PMv2";
    } else if (set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) {
        mode = "thread PM";
    } else {
        SetProcessDPIAware();
        mode = "process system-aware";
    }
    log_info("[i] DPI mode: %s\n", mode);
}

struct Session {
    TlsConnection connection;
    SSL* ssl = nullptr;      // connection's
    std::string end_reason;  // why the connection failed, from the first failed read or write
    CaptureState capture;
    ClipboardSyncState clipboard;
    std::vector<std::uint8_t> frame;
    std::vector<std::uint8_t> clip;
    int announced_count = NOT_ANNOUNCED;
    int announced_index = NOT_ANNOUNCED;
    ULONGLONG frame_mark = 0;  // when the current pass began; its period runs from here
};

bool send_clipboard(Session& s)
{
    std::wstring error;
    const bool captured = capture_clipboard_files(s.clipboard, s.clip, error);
    if (!error.empty())
        log_info("[clip] %s\n", wide_to_utf8(error).c_str());
    if (!captured || s.clip.size() > MAX_PAYLOAD)
        return true;
    log_info("[clip] отправляю файлы зрителю (%u байт)\n", unsigned(s.clip.size()));
    return send_msg(s.ssl, MSG_CLIPBOARD, s.clip.data(), s.clip.size(), &s.end_reason);
}

bool announce_monitors(Session& s)
{
    const MonitorAnnouncement now = monitor_announcement(s.capture.geometry);
    if (now.count == s.announced_count && now.index == s.announced_index)
        return true;
    std::uint8_t info[MONITOR_INFO_SIZE];
    write_monitor_info(now, info);
    if (!send_msg(s.ssl, MSG_MONITOR_INFO, info, sizeof info, &s.end_reason))
        return false;
    s.announced_count = now.count;
    s.announced_index = now.index;
    return true;
}

// One pass up to the pacing sleep; false when the connection broke.
bool capture_and_send(Session& s, bool& captured)
{
    captured = false;
    const bool clipboard_ok = send_clipboard(s);
    pass_stage_done(PassStage::clipboard);
    if (!clipboard_ok)
        return false;
    const bool area_ok = follow_input_desktop(s.capture) && refresh_capture_area(s.capture, false);
    pass_stage_done(PassStage::desktop);
    if (!area_ok)
        return true;
    const bool grabbed = grab_frame(s.capture);
    pass_stage_done(PassStage::grab);
    if (!grabbed)
        return true;
    captured = true;
    const bool announced = announce_monitors(s);
    pass_stage_done(PassStage::announce);
    if (!announced)
        return false;
    encode_frame(s.capture, s.frame);
    pass_stage_done(PassStage::diff);
    if (s.frame.size() > MAX_PAYLOAD)
        return true;
    const bool sent = send_msg(s.ssl, MSG_FRAME, s.frame.data(), s.frame.size(), &s.end_reason);
    pass_stage_done(PassStage::send);
    return sent;
}

bool pump(Session& s)
{
    const bool connected = pump_viewer_messages(s.ssl, s.clipboard, s.capture, s.end_reason);
    pass_stage_done(PassStage::pump);
    return connected;
}

// The rest of the pass: waits on the viewer's socket until the frame period
// is over, and acts on whatever the viewer sends meanwhile at once, so input
// never waits for the next frame. What has arrived is always read once; past
// that, the next frame goes first once the period is over, however fast the
// viewer keeps sending. False when the connection broke.
bool serve_viewer_until(Session& s, ULONGLONG deadline)
{
    for (bool first = true;; first = false) {
        const ULONGLONG now = precise_milliseconds();
        if (now >= deadline && !first)
            return true;
        const int ready =
            wait_for_viewer(s.ssl, now < deadline ? DWORD(deadline - now) : 0, s.end_reason);
        pass_stage_done(PassStage::pace);
        if (ready <= 0)
            return ready == 0;
        if (!pump(s))
            return false;
    }
}

// The period runs from the start of the pass; a pass that overran it still
// waits 1 ms, and a pass without a grab waits longer.
ULONGLONG pass_deadline(const Session& s, bool captured)
{
    const ULONGLONG now = precise_milliseconds();
    if (!captured)
        return now + NO_CAPTURE_WAIT_MS;
    return std::max(s.frame_mark + FRAME_PERIOD_MS, now + 1);
}

void stream(Session& s, const std::string& label)
{
    log_info("[i] GetSystemMetrics says %dx%d (virtual screen)\n",
             GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    bool connected = pump(s);
    while (connected) {
        s.frame_mark = precise_milliseconds();
        bool captured = false;
        if (!capture_and_send(s, captured))
            break;
        connected = serve_viewer_until(s, pass_deadline(s, captured));
    }
    close_capture_desktop(s.capture);
    const std::string reason = s.end_reason.empty() ? "" : " (" + s.end_reason + ")";
    log_info("[-] Зритель отключился: %s%s\n", label.c_str(), reason.c_str());
}

// The interface hears of the viewer only once the capture has read the
// displays: under Wine, a window resized by the interface thread (the banner
// grows for the viewer's name) while another thread reads the display modes
// can deadlock inside Xlib, and both used to happen at this very moment.
void announce_session_start(const std::string& label)
{
    agent.viewer_name.set(ansi_to_wide(label));
    agent.viewer_connected = true;
    post_agent_state_changed();
}

// The connection has been closed; the interface hears that nobody is connected.
void announce_session_end()
{
    agent.viewer_name.set(L"");
    agent.viewer_connected = false;
    post_agent_state_changed();
}

} // namespace

void stream_session(TlsConnection connection, const std::string& label)
{
    make_thread_dpi_aware();
    {
        auto session =
            std::make_unique<Session>();  // its buffers, capture and connection go with it
        session->connection = std::move(connection);
        session->ssl = session->connection.ssl.get();
        if (refresh_capture_area(session->capture, true)) {
            announce_session_start(label);
            stream(*session, label);
        } else {
            log_info("[!] Не удалось инициализировать захват экрана.\n");
        }
    }
    announce_session_end();
    release_jpeg_encoder();
}
