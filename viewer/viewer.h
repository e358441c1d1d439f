#pragma once
// One viewer session per process: the connecting thread, the network thread
// and the window share this record.
#include <winsock2.h>
#include <windows.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "app/shared_text.h"
#include "host/input_events.h"
#include "net/tls_owner.h"
#include "viewer/viewer_layout.h"

struct ServerEntry;

inline constexpr UINT WM_VIEWER_MONITORS = WM_APP + 50;
// A new notice is in ViewerSession::notice: network thread to viewer window.
inline constexpr UINT WM_VIEWER_NOTICE = WM_APP + 51;
inline constexpr std::size_t MAX_QUEUED_EVENTS = 256;
inline constexpr std::int32_t NO_PENDING_MONITOR = -100;

struct ViewerParams {
    std::string host;  // a dotted IPv4 address; never resolved as a name
    std::uint16_t port = 0;
    std::string password;
    std::string relay_host;  // not empty: connect through the relay by relay_id
    std::uint16_t relay_port = 0;
    std::string relay_id;
};

// The MSG_MOUSE and MSG_KEY payloads, byte for byte.
struct MouseEvent {
    std::uint8_t bytes[MOUSE_PAYLOAD_SIZE];
};
struct KeyEvent {
    std::uint8_t bytes[KEY_PAYLOAD_SIZE];
};

struct ViewerSession {
    std::atomic<bool> running{false};
    std::atomic<bool> control_enabled{false};
    std::atomic<bool> cad_requested{false};
    HBITMAP canvas = nullptr;  // top-down 32-bit DIB, under canvas_lock
    void* canvas_bits = nullptr;
    std::int32_t canvas_width = 0;
    std::int32_t canvas_height = 0;
    HWND viewer_window = nullptr;
    ImageRect image_rect;  // where the picture was last painted
    std::atomic<std::int32_t> monitor_count{0};
    std::atomic<std::int32_t> monitor_index{0};
    std::atomic<std::int32_t> pending_monitor{NO_PENDING_MONITOR};
    std::atomic<std::int32_t> latency_ms{-1};
    std::atomic<std::int32_t> fps_x10{0};
    CRITICAL_SECTION canvas_lock;
    CRITICAL_SECTION mouse_lock;
    CRITICAL_SECTION key_lock;
    std::deque<MouseEvent> mouse_queue;
    std::deque<KeyEvent> key_queue;
    // A failure the user must hear of without losing the session (a copied
    // folder, too much to copy, files that could not be saved): the network
    // thread puts it here and posts WM_VIEWER_NOTICE; the window shows its own
    // copy, notice_shown, for a few seconds.
    SharedText<wchar_t, 512> notice;
    std::wstring notice_shown;  // the window's thread only
    // Auto-reset event set whenever the window has queued or flagged something
    // for the agent, and when the session ends: the network thread waits on it
    // beside the socket, so input leaves at once rather than after the next
    // frame. The live session owns it.
    HANDLE input_ready = nullptr;
};

// The viewer's process-wide state: one session at a time.
struct ViewerState {
    ViewerSession session;
    std::atomic<bool> open{false};  // a session's thread runs; no second one starts
};

extern ViewerState viewer;

// Takes ownership of a heap ViewerParams.
DWORD WINAPI viewer_thread(void* params);
// Takes ownership of a heap cell (new SSL*) holding the authenticated TLS
// session, which stays the connecting thread's.
DWORD WINAPI network_thread(void* cell);

// The viewer's TLS steps with their warnings: a context pinned to server.crt
// (a box when the file is missing or unusable) and the handshake (a box when
// it fails).
SslCtxPtr open_viewer_tls_context();
SslPtr viewer_tls_handshake(SOCKET s, SSL_CTX* ctx);
void decode_frame(const std::uint8_t* payload, std::size_t size);

LRESULT CALLBACK viewer_wndproc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void update_viewer_title(HWND window);
void queue_mouse_event(std::uint8_t action, std::uint16_t x, std::uint16_t y, std::int16_t wheel);
// Tells the network thread that there is something to send.
void wake_network_thread();

// Opens a viewer for the entry unless one is open; returns at once.
void launch_viewer(const ServerEntry& entry);
