#include "host/input_events.h"

#include "net/little_endian.h"

namespace {

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
    LeReader fields(payload, MOUSE_PAYLOAD_SIZE);
    std::uint8_t action = 0;
    std::uint16_t x = 0, y = 0, wheel = 0;
    fields.read_u8(action);  // the array's size holds all four fields
    fields.read_u16(x);
    fields.read_u16(y);
    fields.read_u16(wheel);
    if (action > MOUSE_WHEEL)
        return result;
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
        result.mouse_data = std::int16_t(wheel);
    return result;
}

KeyInjection key_injection(const std::uint8_t (&payload)[KEY_PAYLOAD_SIZE])
{
    KeyInjection result;
    LeReader fields(payload, KEY_PAYLOAD_SIZE);
    std::uint8_t down = 0, extended = 0;
    fields.read_u16(result.vk);  // the array's size holds all three fields
    fields.read_u8(down);
    fields.read_u8(extended);
    if (down == 0)
        result.flags |= KEY_FLAG_UP;
    if (extended != 0)
        result.flags |= KEY_FLAG_EXTENDED;
    return result;
}

void write_mouse_payload(std::uint8_t (&payload)[MOUSE_PAYLOAD_SIZE], std::uint8_t action,
                         std::uint16_t x, std::uint16_t y, std::int16_t wheel)
{
    payload[0] = action;
    put_le16(payload + 1, x);
    put_le16(payload + 3, y);
    put_le16(payload + 5, std::uint16_t(wheel));
}

void write_key_payload(std::uint8_t (&payload)[KEY_PAYLOAD_SIZE], std::uint16_t vk, bool down,
                       bool extended)
{
    put_le16(payload, vk);
    payload[2] = down ? 1 : 0;
    payload[3] = extended ? 1 : 0;
}
