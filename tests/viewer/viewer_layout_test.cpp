#include <gtest/gtest.h>

#include <algorithm>

#include "viewer/viewer_layout.h"

TEST(ViewerLayout, PictureFitsWithBarsAndClicksMapThroughIt)
{
    const ImageRect image = fit_picture(1000, 611, 1920, 1080);
    EXPECT_EQ(image.left, 0);
    EXPECT_EQ(image.top, 24);
    EXPECT_EQ(image.right, 1000);
    EXPECT_EQ(image.bottom, 586);
    // A small remote screen is enlarged; an exact fit is 1:1.
    const ImageRect small = fit_picture(1000, 650, 500, 300);
    EXPECT_EQ(small.right - small.left, 1000);
    EXPECT_EQ(small.bottom - small.top, 600);
    const ImageRect exact = fit_picture(800, 600, 800, 600);
    EXPECT_EQ(exact.left, 0);
    EXPECT_EQ(exact.right, 800);

    struct Case {
        int px, py;
        bool inside;
        std::uint16_t x, y;
    };
    const Case cases[] = {
        {0, 24, true, 0, 0},
        {999, 585, true, 65469, 65418},  // the last column stays below 65535
        {500, 305, true, 32767, 32767},
        {500, 23, false, 0, 0},  // the bar above
        {500, 586, false, 0, 0},  // the bar below
        {-1, 100, false, 0, 0},
        {1000, 100, false, 0, 0},
    };
    for (const Case& c : cases) {
        std::uint16_t x = 0, y = 0;
        EXPECT_EQ(picture_position(image, c.px, c.py, x, y), c.inside) << c.px << "," << c.py;
        if (c.inside) {
            EXPECT_EQ(x, c.x) << c.px;
            EXPECT_EQ(y, c.y) << c.py;
        }
    }
    std::uint16_t x, y;
    EXPECT_FALSE(picture_position(ImageRect{}, 0, 0, x, y));  // nothing painted yet
}

TEST(ViewerLayout, FrameRateSmoothsTowardsTheArrivalRate)
{
    FrameRate rate;
    EXPECT_EQ(count_frame(rate, 1000), -1);   // the first frame sets no rate
    EXPECT_EQ(count_frame(rate, 1000), -1);   // nor one in the same millisecond
    EXPECT_EQ(count_frame(rate, 1040), 250);  // the next sets it directly
    EXPECT_EQ(count_frame(rate, 1060), 278);  // 0.2 x 20 ms + 0.8 x 40 ms = 36 ms
    EXPECT_EQ(count_frame(rate, 1060), 347);  // a frame in the same ms counts: 28.8 ms
    std::int32_t fps_x10 = 0;
    for (std::uint64_t t = 1100; t < 3000; t += 40)
        fps_x10 = count_frame(rate, t);
    EXPECT_EQ(fps_x10, 250);
}

TEST(ViewerLayout, FramesInBurstsReadAsTheirAverageRate)
{
    // Three frames within 2 ms every 120 ms: 25 a second, however bunched.
    FrameRate rate;
    std::int32_t lowest = 1 << 30, highest = 0;
    for (std::uint64_t t = 1000; t < 20000; t += 120)
        for (std::uint64_t offset : {0, 1, 2}) {
            const std::int32_t fps_x10 = count_frame(rate, t + offset);
            if (t > 2000) {
                lowest = std::min(lowest, fps_x10);
                highest = std::max(highest, fps_x10);
            }
        }
    EXPECT_GE(lowest, 180);
    EXPECT_LE(highest, 350);
}

TEST(ViewerLayout, F4CyclesThroughTheMonitors)
{
    struct Case {
        std::int32_t count, index, next;
    };
    const Case cases[] = {
        {3, 2, -1}, {3, -1, 0}, {3, 0, 1}, {2, 1, -1}, {1, 0, -100}, {0, 0, -100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(next_monitor(c.count, c.index), c.next) << c.count << " " << c.index;
}

TEST(ViewerLayout, TitleAndOverlayTexts)
{
    EXPECT_EQ(viewer_title(false, 0, 0), L"Orvane — просмотр (F2 — управление, F3 — Ctrl+Alt+Del)");
    EXPECT_EQ(viewer_title(true, 1, 0), L"Orvane — УПРАВЛЕНИЕ (F2 — выкл, F3 — Ctrl+Alt+Del)");
    EXPECT_EQ(viewer_title(true, 2, 0),
              L"Orvane — УПРАВЛЕНИЕ (F2 — выкл, F3 — Ctrl+Alt+Del, F4 — монитор)  ·  монитор 1 из 2");
    EXPECT_EQ(viewer_title(false, 3, -1),
              L"Orvane — просмотр (F2 — управление, F3 — Ctrl+Alt+Del, F4 — монитор)  ·  все мониторы");
    EXPECT_EQ(overlay_text(-1, 0), L"0.0 fps");
    EXPECT_EQ(overlay_text(37, 248), L"37 ms  |  24.8 fps");
}

TEST(ViewerLayout, NoticeSitsCentredNearTheBottomInsideTheWindow)
{
    EXPECT_EQ(notice_text_width(1000), 1000 - 2 * (24 + NOTICE_PADDING_X));
    EXPECT_EQ(notice_text_width(100), 120);  // a tiny window still gets a readable column
    struct Case {
        int client_width, client_height, text_width, text_height;
        ImageRect box;
    };
    const Case cases[] = {
        {1000, 611, 400, 20, {280, 547, 720, 587}},
        {1000, 611, 912, 60, {24, 507, 976, 587}},  // the widest text still leaves the margin
        {150, 40, 120, 40, {0, 0, 150, 40}},        // clipped to the area, never outside it
    };
    for (const Case& c : cases) {
        const ImageRect box =
            notice_box(c.client_width, c.client_height, c.text_width, c.text_height);
        EXPECT_EQ(box.left, c.box.left) << c.client_width;
        EXPECT_EQ(box.top, c.box.top) << c.client_width;
        EXPECT_EQ(box.right, c.box.right) << c.client_width;
        EXPECT_EQ(box.bottom, c.box.bottom) << c.client_width;
    }
}
