#include "host/input.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/agent_log.h"
#include "app/win_util.h"
#include "capture/screen_capture.h"
#include "clipboard/clipboard_sync.h"
#include "net/message_io.h"

namespace {

PixelRect pixel_rect(const ScreenRect& rect)
{
    return {rect.left, rect.top, rect.width, rect.height};
}

// Whether a message has begun to arrive: decrypted bytes held by TLS, or
// bytes waiting on the socket. -1 when the socket cannot be asked.
int message_waiting(SSL* ssl)
{
    if (SSL_pending(ssl) > 0)
        return 1;
    u_long waiting = 0;
    if (ioctlsocket(SOCKET(SSL_get_fd(ssl)), FIONREAD, &waiting) != 0)
        return -1;
    return waiting > 0 ? 1 : 0;
}

void select_monitor(const Message& message, CaptureState& capture)
{
    capture.geometry.requested_monitor = std::int8_t(message.payload[0]);
    refresh_capture_area(capture, true);
    capture.history.previous_valid = false;  // the next frame is complete
}

void apply_clipboard(const Message& message, ClipboardSyncState& clipboard)
{
    std::wstring error;
    if (apply_clipboard_files(clipboard, message.payload, message.size, error))
        log_info("[clip] файлы от зрителя положены в буфер обмена (%u байт)\n",
                 unsigned(message.size));
    if (!error.empty())
        log_info("[clip] %s\n", wide_to_utf8(error).c_str());
}

void dispatch(SSL* ssl, const Message& message, ClipboardSyncState& clipboard,
              CaptureState& capture)
{
    switch (message.type) {
    case MSG_MOUSE:
        if (message.size == MOUSE_PAYLOAD_SIZE)
            inject_mouse(*reinterpret_cast<const std::uint8_t(*)[MOUSE_PAYLOAD_SIZE]>(
                             message.payload),
                         capture);
        break;
    case MSG_KEY:
        if (message.size == KEY_PAYLOAD_SIZE)
            inject_key(
                *reinterpret_cast<const std::uint8_t(*)[KEY_PAYLOAD_SIZE]>(message.payload));
        break;
    case MSG_CTRL_ALT_DEL:
        send_secure_attention();
        break;
    case MSG_CLIPBOARD:
        if (message.size >= 1)
            apply_clipboard(message, clipboard);
        break;
    case MSG_PING:
        send_msg(ssl, MSG_PONG, nullptr, 0);  // a broken connection shows at the next read
        break;
    case MSG_SELECT_MONITOR:
        if (message.size >= 1)
            select_monitor(message, capture);
        break;
    default:
        break;
    }
}

} // namespace

bool pump_viewer_messages(SSL* ssl, ClipboardSyncState& clipboard, CaptureState& capture,
                          std::string& failure)
{
    for (;;) {
        const int waiting = message_waiting(ssl);
        if (waiting < 0 && failure.empty())
            failure = "socket error " + std::to_string(WSAGetLastError());
        if (waiting <= 0)
            return waiting == 0;
        Message message;
        if (!read_msg(ssl, message, MAX_MSG_LEN, &failure))
            return false;
        dispatch(ssl, message, clipboard, capture);
        free_message(message);
    }
}

int wait_for_viewer(SSL* ssl, DWORD ms, std::string& failure)
{
    if (SSL_pending(ssl) > 0)
        return 1;
    const SOCKET s = SOCKET(SSL_get_fd(ssl));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{long(ms / 1000), long(ms % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == 0)
        return 0;
    const int waiting = ready < 0 ? -1 : message_waiting(ssl);
    if (waiting > 0)
        return 1;
    // Readable with nothing to read: the viewer has closed the connection.
    if (failure.empty())
        failure = waiting == 0 ? "connection closed"
                               : "socket error " + std::to_string(WSAGetLastError());
    return -1;
}

void inject_mouse(const std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE], const CaptureState& capture)
{
    const MouseInjection mouse = mouse_injection(payload, pixel_rect(capture.geometry.area),
                                                 pixel_rect(capture.geometry.virtual_bounds));
    if (!mouse.inject)
        return;
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = mouse.dx;
    input.mi.dy = mouse.dy;
    input.mi.mouseData = DWORD(mouse.mouse_data);
    input.mi.dwFlags = mouse.flags;
    SendInput(1, &input, sizeof input);
}

void inject_key(const std::uint8_t (&payload)[KEY_PAYLOAD_SIZE])
{
    const KeyInjection key = key_injection(payload);
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.dwFlags = key.flags;
    SendInput(1, &input, sizeof input);
}

namespace {

// Wine ships sas.dll, but its SendSAS is an unimplemented stub that aborts
// the calling thread, which here is the whole session. There is no secure
// attention sequence to raise under Wine, so it is not called there.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace

void send_secure_attention()
{
    static const bool under_wine = running_under_wine();
    if (under_wine)
        return;
    // Not every edition of Windows has sas.dll: look it up at run time.
    HMODULE sas = LoadLibraryW(L"sas.dll");
    if (!sas)
        return;
    using SendSasFn = void(WINAPI*)(BOOL);
    auto send_sas = reinterpret_cast<SendSasFn>(reinterpret_cast<void*>(GetProcAddress(sas, "SendSAS")));
    if (send_sas)
        send_sas(FALSE);
    FreeLibrary(sas);
}
