#include <gtest/gtest.h>

#include <cstring>

#include "host/input_events.h"

namespace {

MouseInjection inject(std::uint8_t action, std::uint16_t x, std::uint16_t y, std::int16_t wheel,
                      PixelRect area, PixelRect desktop)
{
    std::uint8_t payload[MOUSE_PAYLOAD_SIZE];
    write_mouse_payload(payload, action, x, y, wheel);
    return mouse_injection(payload, area, desktop);
}

const PixelRect ONE_MONITOR{0, 0, 1920, 1080};
const PixelRect RIGHT_MONITOR{1920, 0, 1920, 1080};
const PixelRect TWO_MONITORS{0, 0, 3840, 1080};

} // namespace

TEST(InputEvents, MouseCoordinatesMapOverTheWholeDesktop)
{
    struct Case {
        PixelRect area, desktop;
        std::uint16_t x, y;
        std::int32_t dx, dy;
    };
    const Case cases[] = {
        {ONE_MONITOR, ONE_MONITOR, 0, 0, 0, 0},
        {ONE_MONITOR, ONE_MONITOR, 65535, 65535, 65535, 65535},
        {ONE_MONITOR, ONE_MONITOR, 32768, 32768, 32768, 32768},
        // The right-hand monitor of two: its left edge is desktop pixel 1920.
        {RIGHT_MONITOR, TWO_MONITORS, 0, 0, 32776, 0},
        {RIGHT_MONITOR, TWO_MONITORS, 65535, 65535, 65535, 65535},
        // A monitor left of the primary one, at negative x.
        {{-1280, 0, 1280, 1024}, {-1280, 0, 3200, 1080}, 0, 65535, 0, 62134},
        // Degenerate sizes pass the coordinates through.
        {{0, 0, 1, 1080}, ONE_MONITOR, 1234, 4321, 1234, 4321},
        {ONE_MONITOR, {0, 0, 0, 0}, 1234, 4321, 1234, 4321},
    };
    for (const Case& c : cases) {
        MouseInjection m = inject(MOUSE_MOVE, c.x, c.y, 0, c.area, c.desktop);
        EXPECT_TRUE(m.inject);
        EXPECT_EQ(m.dx, c.dx) << c.area.left << " x=" << c.x;
        EXPECT_EQ(m.dy, c.dy) << c.area.left << " y=" << c.y;
    }
}

TEST(InputEvents, MouseActionsGiveTheirFlags)
{
    struct Case {
        std::uint8_t action;
        std::int16_t wheel;
        bool inject;
        std::uint32_t flags;
        std::int32_t data;
    };
    const Case cases[] = {
        {0, 0, true, 0xC001, 0},      {1, 0, true, 0xC003, 0},      {2, 0, true, 0xC005, 0},
        {3, 0, true, 0xC009, 0},      {4, 0, true, 0xC011, 0},      {5, 0, true, 0xC021, 0},
        {6, 0, true, 0xC041, 0},      {7, 120, true, 0xC801, 120},  {7, -240, true, 0xC801, -240},
        {1, 120, true, 0xC003, 0},  // the wheel field counts only for the wheel
        {8, 0, false, 0, 0},          {9, 120, false, 0, 0},        {255, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        MouseInjection m = inject(c.action, 100, 100, c.wheel, ONE_MONITOR, ONE_MONITOR);
        EXPECT_EQ(m.inject, c.inject) << int(c.action);
        if (!c.inject)
            continue;
        EXPECT_EQ(m.flags, c.flags) << int(c.action);
        EXPECT_EQ(m.mouse_data, c.data) << int(c.action);
    }
}

TEST(InputEvents, KeysCarryUpAndExtendedFlags)
{
    struct Case {
        std::uint16_t vk;
        bool down, extended;
        std::uint32_t flags;
    };
    const Case cases[] = {
        {0x2E, true, true, KEY_FLAG_EXTENDED},
        {0x2E, false, true, KEY_FLAG_EXTENDED | KEY_FLAG_UP},
        {0x41, true, false, 0},
        {0x41, false, false, KEY_FLAG_UP},
        {0xFFFF, true, false, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t payload[KEY_PAYLOAD_SIZE];
        write_key_payload(payload, c.vk, c.down, c.extended);
        KeyInjection k = key_injection(payload);
        EXPECT_EQ(k.vk, c.vk);
        EXPECT_EQ(k.flags, c.flags) << c.vk << " " << c.down;
    }
    // Any non-zero byte counts as pressed and extended.
    const std::uint8_t loose[KEY_PAYLOAD_SIZE] = {0x2E, 0x00, 0x7F, 0x02};
    EXPECT_EQ(key_injection(loose).flags, KEY_FLAG_EXTENDED);
}

TEST(InputEvents, PayloadBytesAreLittleEndian)
{
    std::uint8_t mouse[MOUSE_PAYLOAD_SIZE];
    write_mouse_payload(mouse, MOUSE_WHEEL, 0x1234, 0xFFFE, -120);
    const std::uint8_t expected_mouse[] = {7, 0x34, 0x12, 0xFE, 0xFF, 0x88, 0xFF};
    EXPECT_EQ(0, std::memcmp(mouse, expected_mouse, sizeof mouse));
    std::uint8_t key[KEY_PAYLOAD_SIZE];
    write_key_payload(key, 0x0D, true, false);
    const std::uint8_t expected_key[] = {0x0D, 0x00, 1, 0};
    EXPECT_EQ(0, std::memcmp(key, expected_key, sizeof key));
}
