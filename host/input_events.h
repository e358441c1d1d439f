#pragma once
// The viewer's mouse and key messages and what the agent injects for them.
// Byte work and coordinate maths only; the injection itself is Windows code.
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t MOUSE_PAYLOAD_SIZE = 7;
inline constexpr std::size_t KEY_PAYLOAD_SIZE = 4;

enum : std::uint8_t {
    MOUSE_MOVE = 0,
    MOUSE_LEFT_DOWN = 1,
    MOUSE_LEFT_UP = 2,
    MOUSE_RIGHT_DOWN = 3,
    MOUSE_RIGHT_UP = 4,
    MOUSE_MIDDLE_DOWN = 5,
    MOUSE_MIDDLE_UP = 6,
    MOUSE_WHEEL = 7,
};

// Same values as the Windows MOUSEEVENTF_* and KEYEVENTF_* flags.
inline constexpr std::uint32_t MOUSE_FLAG_MOVE = 0x0001;
inline constexpr std::uint32_t MOUSE_FLAG_WHEEL = 0x0800;
inline constexpr std::uint32_t MOUSE_FLAG_VIRTUALDESK = 0x4000;
inline constexpr std::uint32_t MOUSE_FLAG_ABSOLUTE = 0x8000;
inline constexpr std::uint32_t KEY_FLAG_EXTENDED = 0x0001;
inline constexpr std::uint32_t KEY_FLAG_UP = 0x0002;

struct PixelRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct MouseInjection {
    bool inject = false;  // false for unknown actions
    std::int32_t dx = 0;  // absolute, 0..65535 over the whole desktop
    std::int32_t dy = 0;
    std::uint32_t flags = 0;
    std::int32_t mouse_data = 0;
};

struct KeyInjection {
    std::uint16_t vk = 0;
    std::uint32_t flags = 0;
};

// `area` is the streamed rectangle, `desktop` the bounds of all monitors.
MouseInjection mouse_injection(const std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE],
                               const PixelRect& area, const PixelRect& desktop);
KeyInjection key_injection(const std::uint8_t (&payload)[KEY_PAYLOAD_SIZE]);

// The viewer's side: payloads as they go on the wire.
void write_mouse_payload(std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE], std::uint8_t action,
                         std::uint16_t x, std::uint16_t y, std::int16_t wheel);
void write_key_payload(std::uint8_t (&payload)[KEY_PAYLOAD_SIZE], std::uint16_t vk, bool down,
                       bool extended);
