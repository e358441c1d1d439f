#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_area.h"

namespace {

struct FakeDisplays {
    std::vector<MonitorInfo> monitors;
    int enumerations = 0;
};

void fake_enumerate(void* ctx, std::vector<MonitorInfo>& out)
{
    auto* displays = static_cast<FakeDisplays*>(ctx);
    ++displays->enumerations;
    out.insert(out.end(), displays->monitors.begin(), displays->monitors.end());
}

struct Session {
    FakeDisplays displays;
    CaptureGeometry geometry;
    FrameHistory history;
    std::string log;

    AreaRefresh refresh(bool force, std::uint64_t now)
    {
        testing::internal::CaptureStdout();
        const AreaRefresh result = refresh_capture_geometry(geometry, history, force, now,
                                                            fake_enumerate, &displays);
        log = testing::internal::GetCapturedStdout();
        return result;
    }
};

const MonitorInfo PRIMARY_RIGHT{0, 0, 1920, 1080, true};
const MonitorInfo SECOND_LEFT{-1280, 0, 1280, 1024, false};
const MonitorInfo LAPTOP{0, 0, 1366, 768, true};

std::string area_line(const ScreenRect& r, int index, int count)
{
    char line[128];
    std::snprintf(line, sizeof line, "[i] capture area %dx%d at (%d,%d), monitor %d of %d\n",
                  r.width, r.height, r.left, r.top, index, count);
    return line;
}

} // namespace

TEST(CaptureArea, ChoiceRules)
{
    struct Case {
        const char* name;
        std::vector<MonitorInfo> monitors;
        int requested;
        int index;
        ScreenRect rect;
    };
    const MonitorInfo plain_a{0, 0, 800, 600, false}, plain_b{800, 0, 1024, 768, false};
    const MonitorInfo second_primary{1920, 0, 1280, 1024, true};
    const Case cases[] = {
        {"single, nothing asked", {LAPTOP}, -2, 0, {0, 0, 1366, 768}},
        {"single, all asked", {LAPTOP}, -1, 0, {0, 0, 1366, 768}},
        {"single, 5 asked", {LAPTOP}, 5, 0, {0, 0, 1366, 768}},
        {"single, -7 asked", {LAPTOP}, -7, 0, {0, 0, 1366, 768}},
        {"primary right, nothing asked", {PRIMARY_RIGHT, SECOND_LEFT}, -2, 1, {0, 0, 1920, 1080}},
        {"primary right, all asked", {PRIMARY_RIGHT, SECOND_LEFT}, -1, -1, {-1280, 0, 3200, 1080}},
        {"left one asked", {PRIMARY_RIGHT, SECOND_LEFT}, 0, 0, {-1280, 0, 1280, 1024}},
        {"3 asked of 2", {PRIMARY_RIGHT, SECOND_LEFT}, 3, 1, {0, 0, 1920, 1080}},
        {"2 asked of 2", {PRIMARY_RIGHT, SECOND_LEFT}, 2, 1, {0, 0, 1920, 1080}},
        {"-5 asked", {PRIMARY_RIGHT, SECOND_LEFT}, -5, 1, {0, 0, 1920, 1080}},
        {"no primary", {plain_b, plain_a}, -2, 0, {0, 0, 800, 600}},
        {"two primaries: the first in list order", {second_primary, PRIMARY_RIGHT}, -2, 0,
         {0, 0, 1920, 1080}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.displays.monitors = c.monitors;
        s.geometry.requested_monitor = c.requested;
        ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
        EXPECT_EQ(s.geometry.streamed_monitor, c.index);
        EXPECT_EQ(s.geometry.requested_monitor, c.requested);  // never rewritten
        EXPECT_EQ(s.geometry.area, c.rect);
        EXPECT_EQ(s.geometry.stride, c.rect.width * 4);
        EXPECT_EQ(s.history.previous_frame.size(), std::size_t(c.rect.width) * 4 * c.rect.height);
        EXPECT_FALSE(s.history.previous_valid);
        EXPECT_EQ(s.log, area_line(c.rect, c.index, int(c.monitors.size())));
    }
}

TEST(CaptureArea, ListIsSortedAndBoundsCoverAll)
{
    Session s;
    s.displays.monitors = {PRIMARY_RIGHT, {0, -1024, 1280, 1024, false}, SECOND_LEFT};
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    ASSERT_EQ(s.geometry.monitors.size(), 3u);
    EXPECT_EQ(s.geometry.monitors[0].left, -1280);
    EXPECT_EQ(s.geometry.monitors[1].top, -1024);  // same left as the primary, higher up
    EXPECT_TRUE(s.geometry.monitors[2].primary);
    EXPECT_EQ(s.geometry.virtual_bounds, (ScreenRect{-1280, -1024, 3200, 2104}));
    EXPECT_EQ(s.geometry.streamed_monitor, 2);
}

TEST(CaptureArea, ThrottleEnumeratesOnceASecondUnlessForced)
{
    Session s;
    s.displays.monitors = {LAPTOP};
    EXPECT_EQ(s.refresh(false, 5000), AreaRefresh::changed);  // no area yet: always looks
    EXPECT_EQ(s.refresh(false, 5999), AreaRefresh::kept);
    EXPECT_EQ(s.displays.enumerations, 1);
    EXPECT_EQ(s.refresh(true, 6000), AreaRefresh::same);
    EXPECT_EQ(s.displays.enumerations, 2);
    EXPECT_EQ(s.refresh(false, 6999), AreaRefresh::kept);
    EXPECT_EQ(s.displays.enumerations, 2);
    EXPECT_EQ(s.refresh(false, 7000), AreaRefresh::same);
    EXPECT_EQ(s.displays.enumerations, 3);
}

TEST(CaptureArea, SameRectangleKeepsThePreviousFrameAndLogsNothing)
{
    Session s;
    s.displays.monitors = {PRIMARY_RIGHT, SECOND_LEFT};
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    s.history.previous_valid = true;
    s.history.previous_frame[100] = 7;
    // The same monitor, reached now by asking for it by index.
    s.geometry.requested_monitor = 1;
    EXPECT_EQ(s.refresh(true, 5001), AreaRefresh::same);
    EXPECT_EQ(s.log, "");
    EXPECT_TRUE(s.history.previous_valid);
    EXPECT_EQ(s.history.previous_frame[100], 7);
}

TEST(CaptureArea, ChangedRectangleForcesACompleteFrame)
{
    Session s;
    s.displays.monitors = {PRIMARY_RIGHT};
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    s.history.previous_valid = true;
    s.displays.monitors = {{0, 0, 1280, 720, true}};  // resolution changed
    EXPECT_EQ(s.refresh(false, 6000), AreaRefresh::changed);
    EXPECT_EQ(s.log, "[i] capture area 1280x720 at (0,0), monitor 0 of 1\n");
    EXPECT_FALSE(s.history.previous_valid);
    EXPECT_EQ(s.history.previous_frame.size(), 1280u * 4 * 720);
}

TEST(CaptureArea, RequestThatNoLongerFitsComesBackWithItsMonitor)
{
    Session s;
    s.displays.monitors = {PRIMARY_RIGHT, SECOND_LEFT};
    s.geometry.requested_monitor = 0;
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    EXPECT_EQ(s.geometry.streamed_monitor, 0);
    s.displays.monitors = {PRIMARY_RIGHT};  // the left monitor was unplugged
    s.refresh(true, 5001);
    EXPECT_EQ(s.geometry.streamed_monitor, 0);
    EXPECT_EQ(s.geometry.area, (ScreenRect{0, 0, 1920, 1080}));
    s.displays.monitors = {PRIMARY_RIGHT, SECOND_LEFT};
    s.refresh(true, 5002);
    EXPECT_EQ(s.geometry.area, (ScreenRect{-1280, 0, 1280, 1024}));
    EXPECT_EQ(s.geometry.requested_monitor, 0);
}

TEST(CaptureArea, NothingUsableLeavesTheAreaAlone)
{
    Session s;
    s.displays.monitors = {LAPTOP};
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    s.geometry.streamed_monitor = 0;
    s.displays.monitors = {};
    EXPECT_EQ(s.refresh(true, 5001), AreaRefresh::unusable);
    EXPECT_EQ(s.geometry.area, (ScreenRect{0, 0, 1366, 768}));
    s.displays.monitors = {{0, 0, 0, 768, true}};
    EXPECT_EQ(s.refresh(true, 5002), AreaRefresh::unusable);
    EXPECT_EQ(s.log, "");
}

TEST(CaptureArea, SidesBeyondSixteenBitsAreCut)
{
    // Frame payloads carry 16-bit sizes; the low bits of 70000 would be nonsense.
    Session s;
    s.displays.monitors = {{0, 0, 70000, 16, true}};
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    EXPECT_EQ(s.geometry.area, (ScreenRect{0, 0, 65535, 16}));
    EXPECT_EQ(s.geometry.stride, 65535 * 4);
    EXPECT_EQ(s.history.previous_frame.size(), 65535u * 4 * 16);
}

TEST(CaptureArea, MonitorInfoBytes)
{
    Session s;
    s.displays.monitors = {PRIMARY_RIGHT, SECOND_LEFT, {1920, 0, 800, 600, false}};
    s.geometry.requested_monitor = ALL_MONITORS;
    ASSERT_EQ(s.refresh(true, 5000), AreaRefresh::changed);
    std::uint8_t payload[MONITOR_INFO_SIZE];
    write_monitor_info(monitor_announcement(s.geometry), payload);
    EXPECT_EQ(payload[0], 0x03);
    EXPECT_EQ(payload[1], 0xFF);
    MonitorAnnouncement read;
    ASSERT_TRUE(read_monitor_info(payload, sizeof payload, read));
    EXPECT_EQ(read.count, 3);
    EXPECT_EQ(read.index, -1);

    const std::uint8_t longer[] = {1, 0, 9};
    ASSERT_TRUE(read_monitor_info(longer, sizeof longer, read));
    EXPECT_EQ(read.count, 1);
    EXPECT_EQ(read.index, 0);
    EXPECT_FALSE(read_monitor_info(longer, 1, read));
}
