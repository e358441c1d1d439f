// The Windows half on a real (Wine) desktop: the monitor list, the GDI grab,
// the input desktop, and the agent's JPEG tiles read back by another decoder
// than the viewer's: GDI+.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/frame_payload.h"
#include "capture/screen_capture.h"
#include "tests/capture/test_picture.h"

namespace gp = Gdiplus::DllExports;

namespace {

class GdiplusRuntime : public testing::Environment {
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};
const auto* const gdiplus_runtime = testing::AddGlobalTestEnvironment(new GdiplusRuntime);

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgrx;  // top-down, 4 bytes a pixel
};

// Decodes a JPEG file with GDI+, a decoder of its own, not the viewer's.
bool decode_jpeg(const std::uint8_t* data, std::size_t size, Picture& out)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory)
        return false;
    std::memcpy(GlobalLock(memory), data, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return false;
    }
    Gdiplus::GpBitmap* bitmap = nullptr;
    const bool made = gp::GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok;
    stream->Release();
    if (!made)
        return false;
    UINT w = 0, h = 0;
    gp::GdipGetImageWidth(bitmap, &w);
    gp::GdipGetImageHeight(bitmap, &h);
    Gdiplus::GpRect rect(0, 0, INT(w), INT(h));
    Gdiplus::BitmapData locked{};
    bool ok = gp::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead,
                                     PixelFormat32bppRGB, &locked) == Gdiplus::Ok;
    if (ok) {
        out.width = int(w);
        out.height = int(h);
        out.bgrx.resize(std::size_t(w) * h * 4);
        const auto* scan0 = static_cast<const std::uint8_t*>(locked.Scan0);
        for (UINT r = 0; r < h; ++r)
            std::memcpy(out.bgrx.data() + std::size_t(r) * w * 4,
                        scan0 + std::size_t(r) * locked.Stride, std::size_t(w) * 4);
        gp::GdipBitmapUnlockBits(bitmap, &locked);
    }
    gp::GdipDisposeImage(bitmap);
    return ok;
}

// A topmost window filled with one colour, for the grab to find. It lives on
// a thread of its own, as the agent's windows do: a thread that owns windows
// could not be moved to another desktop.
constexpr UINT WM_SET_COLOUR = WM_APP + 1;
std::atomic<COLORREF> window_colour{RGB(200, 30, 60)};

LRESULT CALLBACK colour_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        HBRUSH brush = CreateSolidBrush(window_colour);
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SET_COLOUR:
        window_colour = COLORREF(wp);
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

struct ColourWindow {
    std::atomic<HWND> hwnd{nullptr};
    std::thread thread;

    ColourWindow(int x, int y, int w, int h)
    {
        thread = std::thread([this, x, y, w, h] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = colour_window_proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"OrvaneCaptureTest";
            RegisterClassW(&wc);
            HWND made = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"",
                                        WS_POPUP, x, y, w, h, nullptr, nullptr, wc.hInstance,
                                        nullptr);
            ShowWindow(made, SW_SHOWNOACTIVATE);
            UpdateWindow(made);
            hwnd = made;
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        });
        while (!hwnd)
            Sleep(10);
    }
    ~ColourWindow()
    {
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
        thread.join();
    }
    void repaint(COLORREF colour) { SendMessageW(hwnd, WM_SET_COLOUR, colour, 0); }
};

bool pixel_is(const CaptureState& s, int x, int y, COLORREF colour)
{
    const std::uint8_t* p = s.bits + std::size_t(y) * s.geometry.stride + std::size_t(x) * 4;
    return p[0] == GetBValue(colour) && p[1] == GetGValue(colour) && p[2] == GetRValue(colour);
}

// Grabs until the screen shows `colour` at (x, y): the window manager and the
// X server draw in their own time.
bool grab_until(CaptureState& s, int x, int y, COLORREF colour)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!grab_frame(s))
            return false;
        if (pixel_is(s, x, y, colour))
            return true;
        Sleep(50);
    }
    return false;
}

struct Tile {
    FrameTileView view;
    Picture image;
};

std::vector<Tile> decode_payload(const std::vector<std::uint8_t>& payload, FrameHeader& header)
{
    std::vector<Tile> tiles;
    FrameReader reader;
    FrameTileView view;
    if (!begin_frame(reader, payload.data(), payload.size(), header))
        return tiles;
    while (next_frame_tile(reader, view)) {
        Tile t{view, {}};
        EXPECT_TRUE(decode_jpeg(view.jpeg, view.size, t.image));
        EXPECT_EQ(t.image.width, view.w);
        EXPECT_EQ(t.image.height, view.h);
        tiles.push_back(t);
    }
    EXPECT_EQ(reader.position, payload.size());
    return tiles;
}

struct SessionCapture {
    CaptureState state;
    ~SessionCapture() { close_capture_desktop(state); }
};

} // namespace

TEST(JpegTilesReadByGdiplus, RegionDecodesCloseToTheSource)
{
    const int width = 640, height = 400;
    const std::vector<std::uint8_t> bits = test_picture(width, height);
    struct Case { int x, y, w, h; };
    const Case cases[] = {{0, 0, 640, 400}, {128, 256, 300, 144}, {637, 399, 3, 1}};
    std::vector<std::uint8_t> jpeg;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        ASSERT_TRUE(encode_jpeg_region(bits.data(), width * 4, c.x, c.y, c.w, c.h, jpeg));
        ASSERT_GE(jpeg.size(), 4u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        // Trimmed to what the encoder wrote: the end-of-image marker comes last.
        EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
        EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
        Picture decoded;
        ASSERT_TRUE(decode_jpeg(jpeg.data(), jpeg.size(), decoded));
        ASSERT_EQ(decoded.width, c.w);
        ASSERT_EQ(decoded.height, c.h);
        const Difference d = compare(decoded.bgrx.data(), c.w * 4,
                                     bits.data() + (c.y * width + c.x) * 4, width * 4, c.w, c.h);
        EXPECT_LT(d.mean, 4.0);
        EXPECT_LT(d.far_share, 0.001);
    }
}

TEST(JpegTilesReadByGdiplus, FrameTilesPaintTheSourcePicture)
{
    // encode_frame on a picture of our own in place of a grab.
    CaptureState s;
    std::vector<std::uint8_t> bits = test_picture(1920, 1080);
    s.geometry.area = {0, 0, 1920, 1080};
    s.geometry.stride = 1920 * 4;
    s.history.previous_frame.assign(bits.size(), 0);
    s.bits = bits.data();
    std::vector<std::uint8_t> payload;
    ASSERT_EQ(encode_frame(s, payload), 9);
    std::vector<std::uint8_t> canvas(bits.size(), 0);
    FrameHeader header;
    for (const Tile& t : decode_payload(payload, header))
        for (int r = 0; r < t.view.h; ++r)
            std::memcpy(&canvas[(std::size_t(t.view.y + r) * 1920 + t.view.x) * 4],
                        &t.image.bgrx[std::size_t(r) * t.image.width * 4], t.view.w * 4u);
    EXPECT_EQ(header.width, 1920);
    EXPECT_EQ(header.height, 1080);
    const Difference d = compare(canvas.data(), 1920 * 4, bits.data(), 1920 * 4, 1920, 1080);
    EXPECT_LT(d.mean, 4.0);
    EXPECT_LT(d.far_share, 0.001);

    bits[(600 * 1920 + 700) * 4] ^= 0xFF;
    ASSERT_EQ(encode_frame(s, payload), 1);
    EXPECT_EQ(decode_payload(payload, header).at(0).view.x, 640);
    EXPECT_EQ(encode_frame(s, payload), 0);
    EXPECT_EQ(payload.size(), 6u);
}

TEST(ScreenCapture, MonitorListOfTheDisplay)
{
    CaptureState s;
    enumerate_monitors(s);
    ASSERT_EQ(s.geometry.monitors.size(), 1u);
    const MonitorInfo& m = s.geometry.monitors[0];
    EXPECT_EQ(m.left, 0);
    EXPECT_EQ(m.top, 0);
    EXPECT_EQ(m.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(m.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_TRUE(m.primary);

    testing::internal::CaptureStdout();
    ASSERT_TRUE(refresh_capture_area(s, true));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "[i] capture area " + std::to_string(m.width) + "x" +
                       std::to_string(m.height) + " at (0,0), monitor 0 of 1\n");
    EXPECT_EQ(s.geometry.streamed_monitor, 0);
    EXPECT_EQ(s.memory_dc, nullptr);  // objects come with the first grab
}

TEST(ScreenCapture, GrabSeesWhatIsDrawnAndSendsWhatChanged)
{
    ColourWindow window(200, 150, 300, 200);
    SessionCapture c;
    CaptureState& s = c.state;
    ASSERT_TRUE(refresh_capture_area(s, true));
    ASSERT_TRUE(follow_input_desktop(s));
    ASSERT_TRUE(grab_until(s, 350, 250, window_colour));
    EXPECT_TRUE(pixel_is(s, 200, 150, window_colour));  // corners inside
    EXPECT_TRUE(pixel_is(s, 499, 349, window_colour));
    EXPECT_FALSE(pixel_is(s, 199, 150, window_colour));  // and just outside
    EXPECT_FALSE(pixel_is(s, 500, 349, window_colour));

    std::vector<std::uint8_t> payload;
    const int rows_of_tiles = (s.geometry.area.height + TILE_SIZE - 1) / TILE_SIZE;
    EXPECT_EQ(encode_frame(s, payload), rows_of_tiles);

    window.repaint(RGB(20, 180, 90));
    ASSERT_TRUE(grab_until(s, 350, 250, window_colour));
    ASSERT_EQ(encode_frame(s, payload), 2);
    FrameHeader header;
    const std::vector<Tile> tiles = decode_payload(payload, header);
    ASSERT_EQ(tiles.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(tiles[i].view.x, 128);
        EXPECT_EQ(tiles[i].view.y, 128 * (i + 1));
        EXPECT_EQ(tiles[i].view.w, 384);
        EXPECT_EQ(tiles[i].view.h, 128);
    }
    // Tile pixel (222, 122) is screen (350, 250), in the middle of the window.
    const std::uint8_t* p = &tiles[0].image.bgrx[(std::size_t(122) * 384 + 222) * 4];
    EXPECT_NEAR(p[0], 90, 8);
    EXPECT_NEAR(p[1], 180, 8);
    EXPECT_NEAR(p[2], 20, 8);

    ASSERT_TRUE(grab_frame(s));
    EXPECT_EQ(encode_frame(s, payload), 0);
    EXPECT_EQ(payload.size(), 6u);
}

TEST(ScreenCapture, FollowInputDesktopHoldsOneHandle)
{
    SessionCapture c;
    CaptureState& s = c.state;
    HDESK started_on = GetThreadDesktop(GetCurrentThreadId());
    ASSERT_TRUE(refresh_capture_area(s, true));

    // The first pass switches even to the desktop the thread is already on.
    ASSERT_TRUE(follow_input_desktop(s));
    ASSERT_NE(s.desktop, nullptr);
    EXPECT_STREQ(s.desktop_name, L"Default");
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), s.desktop);
    EXPECT_NE(s.memory_dc, nullptr);
    ASSERT_NE(s.bits, nullptr);
    EXPECT_FALSE(s.history.previous_valid);

    // Later passes open and close the input desktop and keep everything.
    s.history.previous_valid = true;
    HDESK held = s.desktop;
    std::uint8_t* bits = s.bits;
    DWORD handles_before = 0, handles_after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles_before);
    for (int pass = 0; pass < 50; ++pass)
        ASSERT_TRUE(follow_input_desktop(s));
    GetProcessHandleCount(GetCurrentProcess(), &handles_after);
    EXPECT_EQ(handles_after, handles_before);
    EXPECT_EQ(s.desktop, held);
    EXPECT_EQ(s.bits, bits);
    EXPECT_TRUE(s.history.previous_valid);

    // An input desktop of another name: switch, close the old handle, new objects.
    std::wcscpy(s.desktop_name, L"Winlogon");
    ASSERT_TRUE(follow_input_desktop(s));
    EXPECT_NE(s.desktop, held);
    EXPECT_STREQ(s.desktop_name, L"Default");
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), s.desktop);
    wchar_t name[64];
    EXPECT_FALSE(GetUserObjectInformationW(held, UOI_NAME, name, sizeof name, nullptr));
    EXPECT_NE(s.bits, nullptr);
    EXPECT_FALSE(s.history.previous_valid);
    ASSERT_TRUE(grab_frame(s));

    // Session end: back on the starting desktop, the held one closed.
    HDESK last = s.desktop;
    close_capture_desktop(s);
    EXPECT_EQ(s.desktop, nullptr);
    EXPECT_EQ(s.bits, nullptr);
    EXPECT_EQ(s.memory_dc, nullptr);
    EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), started_on);
    EXPECT_FALSE(GetUserObjectInformationW(last, UOI_NAME, name, sizeof name, nullptr));
}

TEST(ScreenCapture, OnePixelArea)
{
    CaptureState s;
    s.geometry.area = {5, 5, 1, 1};
    s.geometry.stride = 4;
    s.history.previous_frame.assign(4, 0);
    ASSERT_TRUE(create_capture_objects(s));
    ASSERT_TRUE(grab_frame(s));
    std::vector<std::uint8_t> payload;
    EXPECT_EQ(encode_frame(s, payload), 1);
    release_capture_objects(s);
    EXPECT_EQ(s.screen_dc, nullptr);
    EXPECT_EQ(s.bits, nullptr);
}

TEST(ScreenCapture, NoAreaMakesNoObjects)
{
    CaptureState s;  // nothing refreshed: a 0 x 0 area
    EXPECT_FALSE(create_capture_objects(s));
    EXPECT_EQ(s.screen_dc, nullptr);
    EXPECT_EQ(s.memory_dc, nullptr);
    EXPECT_EQ(s.dib, nullptr);
    EXPECT_FALSE(grab_frame(s));
}
