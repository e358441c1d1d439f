// The viewer's cost per frame on the Windows build: decode_frame (its
// libjpeg-turbo tiles decoded into the canvas rows) for the capture
// benchmark's three patterns, and one WM_PAINT of the viewer window at 1:1
// and scaled.
//   viewer_bench [--save DIR]   DIR receives the payloads, for the native
//                               libjpeg-turbo reference (viewer_bench_native)
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/viewer/tile_area.h"
#include "bench/capture/desktop_picture.h"
#include "capture/frame_payload.h"
#include "capture/screen_capture.h"
#include "viewer/viewer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pattern {
    const char* name;
    std::vector<std::uint8_t> payload;
};

std::vector<std::uint8_t> payload_of(const std::vector<std::uint8_t>& before,
                                     const std::vector<std::uint8_t>& after, bool complete)
{
    FrameHistory history;
    std::vector<std::uint8_t> payload;
    const FramePicture first{before.data(), DESKTOP_WIDTH, DESKTOP_HEIGHT, DESKTOP_WIDTH * 4};
    history.previous_frame.assign(before.size(), 0);
    encode_frame_payload(history, first, encode_jpeg_region, payload);
    if (complete)
        return payload;
    const FramePicture second{after.data(), DESKTOP_WIDTH, DESKTOP_HEIGHT, DESKTOP_WIDTH * 4};
    encode_frame_payload(history, second, encode_jpeg_region, payload);
    return payload;
}

// The median of single decodes: a round slowed by another process on a
// shared machine moves the mean but not this.
double time_decode(const std::vector<std::uint8_t>& payload, int rounds)
{
    decode_frame(payload.data(), payload.size());  // canvas made outside the timing
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        decode_frame(payload.data(), payload.size());
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double time_paint(HWND window, int client_width, int client_height, int rounds)
{
    RECT frame{0, 0, client_width, client_height};
    AdjustWindowRect(&frame, WS_POPUP, FALSE);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i)
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
}

void save(const std::string& dir, const Pattern& p)
{
    FILE* f = std::fopen((dir + "\\" + p.name + ".frame").c_str(), "wb");
    if (!f)
        return;
    std::fwrite(p.payload.data(), 1, p.payload.size(), f);
    std::fclose(f);
}

} // namespace

int main(int argc, char** argv)
{
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &gdiplus_input, nullptr);
    InitializeCriticalSection(&viewer.session.canvas_lock);

    const auto desktop = draw_desktop({});
    const auto typed = draw_desktop({0, 1});
    const auto scrolled = draw_desktop({1, 0});
    std::vector<Pattern> patterns = {{"full", payload_of(desktop, desktop, true)},
                                     {"typing", payload_of(desktop, typed, false)},
                                     {"scrolling", payload_of(desktop, scrolled, false)}};
    std::printf("decode_frame, the viewer's own (Windows build), %dx%d desktop\n", DESKTOP_WIDTH,
                DESKTOP_HEIGHT);
    std::printf("%-10s %9s %10s %10s %10s\n", "pattern", "bytes", "tile MP", "ms/frame", "MP/s");
    for (const Pattern& p : patterns) {
        const double ms = time_decode(p.payload, p.payload.size() > 50000 ? 31 : 101);
        const double mp = tile_megapixels(p.payload);
        std::printf("%-10s %9zu %10.2f %10.2f %10.1f\n", p.name, p.payload.size(), mp, ms,
                    mp / (ms / 1000));
        std::printf("RESULT %s ms=%.3f\n", p.name, ms);
        if (argc == 3 && std::string(argv[1]) == "--save")
            save(argv[2], p);
    }

    // Painting: the viewer's own window procedure on a canvas of the full frame.
    decode_frame(patterns[0].payload.data(), patterns[0].payload.size());
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = viewer_wndproc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OrvaneViewerBench";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, L"OrvaneViewerBench", L"bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                  100, 100, nullptr, nullptr, window_class.hInstance, nullptr);
    std::printf("\nWM_PAINT of the viewer window, %dx%d canvas\n", DESKTOP_WIDTH, DESKTOP_HEIGHT);
    std::printf("  1:1 (client 1920x1080):         %.2f ms\n", time_paint(window, 1920, 1080, 30));
    std::printf("  scaled (client 1000x611, HALFTONE): %.2f ms\n", time_paint(window, 1000, 611, 30));
    DestroyWindow(window);
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
