#pragma once
// What the agent does with the viewer's messages between two frames.
#include <winsock2.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <string>

#include "host/input_events.h"

struct CaptureState;
struct ClipboardSyncState;

// Handles every message that has already arrived, then returns true; never
// waits for one that has not begun. False when the connection must end, with
// the reason in `failure` (kept when it already holds one).
bool pump_viewer_messages(SSL* ssl, ClipboardSyncState& clipboard, CaptureState& capture,
                          std::string& failure);

// Waits at most `ms` for the viewer: 1 as soon as a message has begun to
// arrive (or TLS holds bytes it has already decrypted), 0 when the time ran
// out first, -1 when the connection was closed or broke, with the reason in
// `failure` (kept when it already holds one).
int wait_for_viewer(SSL* ssl, DWORD ms, std::string& failure);

void inject_mouse(const std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE], const CaptureState& capture);
void inject_key(const std::uint8_t (&payload)[KEY_PAYLOAD_SIZE]);
// The secure attention sequence; sas.dll may be missing (then nothing happens).
void send_secure_attention();
