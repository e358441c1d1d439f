#include "host/input_events.h"

namespace {

std::uint16_t read_u16(const std::uint8_t* bytes)
{
    return std::uint16_t(bytes[0] | (bytes[1] << 8));
}

void write_u16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = std::uint8_t(value & 0xFF);
    bytes[1] = std::uint8_t(value >> 8);
}

// One axis: a 0..65535 position across the streamed picture becomes a pixel of
// the area, then that pixel's place in 0..65535 over the whole desktop.
std::int32_t to_absolute(std::uint16_t position, std::int32_t area_start, std::int32_t area_size,
                         std::int32_t desktop_start, std::int32_t desktop_size)
{
    const double pixel =
        double(area_size - 1) * position / 65535.0 + area_start - desktop_start;
    return std::int32_t(pixel * 65535.0 / double(desktop_size - 1) + 0.5);
}

constexpr std::uint32_t BUTTON_FLAGS[] = {
    0x0000,  // move
    0x0002,  // left down
    0x0004,  // left up
    0x0008,  // right down
    0x0010,  // right up
    0x0020,  // middle down
    0x0040,  // middle up
    MOUSE_FLAG_WHEEL,
};

} // namespace

MouseInjection mouse_injection(const std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE],
                               const PixelRect& area, const PixelRect& desktop)
{
    MouseInjection result;
    const std::uint8_t action = payload[0];
    if (action > MOUSE_WHEEL)
        return result;
    const std::uint16_t x = read_u16(payload + 1);
    const std::uint16_t y = read_u16(payload + 3);
    if (area.width < 2 || area.height < 2 || desktop.width < 2 || desktop.height < 2) {
        result.dx = x;
        result.dy = y;
    } else {
        result.dx = to_absolute(x, area.left, area.width, desktop.left, desktop.width);
        result.dy = to_absolute(y, area.top, area.height, desktop.top, desktop.height);
    }
    result.inject = true;
    result.flags = MOUSE_FLAG_MOVE | MOUSE_FLAG_VIRTUALDESK | MOUSE_FLAG_ABSOLUTE |
                   BUTTON_FLAGS[action];
    if (action == MOUSE_WHEEL)
        result.mouse_data = std::int16_t(read_u16(payload + 5));
    return result;
}

KeyInjection key_injection(const std::uint8_t (&payload)[KEY_PAYLOAD_SIZE])
{
    KeyInjection result;
    result.vk = read_u16(payload);
    if (payload[2] == 0)
        result.flags |= KEY_FLAG_UP;
    if (payload[3] != 0)
        result.flags |= KEY_FLAG_EXTENDED;
    return result;
}

void write_mouse_payload(std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE], std::uint8_t action,
                         std::uint16_t x, std::uint16_t y, std::int16_t wheel)
{
    payload[0] = action;
    write_u16(payload + 1, x);
    write_u16(payload + 3, y);
    write_u16(payload + 5, std::uint16_t(wheel));
}

void write_key_payload(std::uint8_t (&payload)[KEY_PAYLOAD_SIZE], std::uint16_t vk, bool down,
                       bool extended)
{
    write_u16(payload, vk);
    payload[2] = down ? 1 : 0;
    payload[3] = extended ? 1 : 0;
}
