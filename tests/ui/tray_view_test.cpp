// The banner's texts and geometry without windows. The tooltip and menu rules
// are checked on the real icon and menu (tray_test.cpp).
#include <gtest/gtest.h>

#include "ui/tray_view.h"

void PrintTo(const BannerBox& b, std::ostream* out)
{
    *out << "(" << b.left << ", " << b.top << ", " << b.width << " x " << b.height << ")";
}

TEST(BannerText, SessionOverCaptionOverWaitingAndCutToTheField)
{
    TrayView view;
    EXPECT_EQ(banner_text(view), L"Ожидание подключения...");
    view.caption = L"ID: 123456789";
    EXPECT_EQ(banner_text(view), L"ID: 123456789");
    view.session = true;
    view.viewer_name = L"10.0.0.7:50123";
    EXPECT_EQ(banner_text(view), L"ЭКРАН ТРАНСЛИРУЕТСЯ  —  10.0.0.7:50123");

    view.viewer_name = std::wstring(200, L'x');
    const std::wstring cut = banner_text(view);
    EXPECT_EQ(cut.size(), BANNER_TEXT_MAX);
    EXPECT_EQ(cut.substr(0, 24), L"ЭКРАН ТРАНСЛИРУЕТСЯ  —  ");
}

TEST(BannerWidth, TextPlusPaddingBetweenTheMinimumAndNineTenthsOfTheScreen)
{
    struct Case {
        int text, screen, width;
    };
    const Case cases[] = {
        {150, 1920, 206},    // text + 56
        {0, 1920, 170},      // never narrower than 170
        {114, 1920, 170},    // 114 + 56 is exactly the minimum
        {2000, 1920, 1728},  // clipped at 0.9 of the screen
        {1300, 1366, 1229},  // 1229.4, truncated
        {100, 150, 135},     // a screen so small that 0.9 of it wins over the minimum
    };
    for (const Case& c : cases)
        EXPECT_EQ(banner_width(c.text, c.screen), c.width) << c.text << " on " << c.screen;
}

TEST(BannerResize, KeepsCentreAndTopAndIgnoresTwoPixels)
{
    const BannerBox current{855, 0, 210, 40};
    EXPECT_FALSE(resized_banner(current, 212));
    EXPECT_FALSE(resized_banner(current, 208));
    EXPECT_EQ(resized_banner(current, 213), (BannerBox{854, 0, 213, 40}));  // 855 + 105 - 106
    EXPECT_EQ(resized_banner(current, 400), (BannerBox{760, 0, 400, 40}));
    // Dragged down and to the side, it grows around where it was put.
    EXPECT_EQ(resized_banner({100, 300, 401, 40}, 171), (BannerBox{215, 300, 171, 40}));
}

TEST(BannerPaint, IconAndTextCentredTogether)
{
    const BannerPaint paint = banner_paint_layout(208, 38, 140);
    EXPECT_EQ(paint.icon_left, 22);  // (208 - 140 - 24) / 2
    EXPECT_EQ(paint.icon_top, 11);
    EXPECT_EQ(paint.text, (UiRect{46, 0, 186, 38}));
}
