// Cost of encode_frame on a 1920x1080 desktop-like picture for three kinds of
// change, with the JPEG share of it (medians over the frames), and the cost of
// finding that nothing changed against plain memcmp of the same bytes.
//
//   capture_bench [--picture out.ppm]
//
// Lines starting with "RESULT" are for bench/capture/run.sh, which sets the
// Windows build's figures beside the native ones.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/capture/bench_encoder.h"
#include "bench/capture/desktop_picture.h"
#include "capture/frame_encoder.h"
#include "capture/frame_payload.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The measured encoder, timed call by call.
RegionEncoder inner_encoder = nullptr;
double jpeg_seconds = 0;

bool timed_encoder(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                   std::vector<std::uint8_t>& out)
{
    const Clock::time_point start = Clock::now();
    const bool ok = inner_encoder(bits, stride, x, y, width, height, out);
    jpeg_seconds += seconds_since(start);
    return ok;
}

FramePicture picture_of(const std::vector<std::uint8_t>& bits)
{
    return {bits.data(), DESKTOP_WIDTH, DESKTOP_HEIGHT, DESKTOP_WIDTH * 4};
}

// Sum of the tiles' areas in the payload.
double changed_pixels(const std::vector<std::uint8_t>& payload)
{
    FrameReader reader;
    FrameHeader header;
    FrameTileView tile;
    double pixels = 0;
    if (begin_frame(reader, payload.data(), payload.size(), header))
        while (next_frame_tile(reader, tile))
            pixels += double(tile.w) * tile.h;
    return pixels;
}

struct Pattern {
    const char* name;
    const char* what;
    const std::vector<std::uint8_t>* first;
    const std::vector<std::uint8_t>* second;  // frames alternate first, second
    bool complete;                            // every frame sent whole
    int frames;
};

// The middle of the sorted values: a frame slowed by another process on a
// shared machine moves the mean but not this.
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void run_pattern(const Pattern& p)
{
    FrameHistory history;
    std::vector<std::uint8_t> payload;
    encode_frame_payload(history, picture_of(*p.first), inner_encoder, payload);  // sizes buffers
    double pixels = 0, bytes = 0, tiles = 0;
    std::vector<double> frame_ms, jpeg_ms;
    for (int i = 0; i < p.frames; ++i) {
        const std::vector<std::uint8_t>& bits = i % 2 == 0 ? *p.second : *p.first;
        if (p.complete)
            history.previous_valid = false;
        jpeg_seconds = 0;
        const Clock::time_point start = Clock::now();
        tiles += encode_frame_payload(history, picture_of(bits), timed_encoder, payload);
        frame_ms.push_back(seconds_since(start) * 1e3);
        jpeg_ms.push_back(jpeg_seconds * 1e3);
        pixels += changed_pixels(payload);
        bytes += double(payload.size());
    }
    const double n = p.frames;
    const double ms = median(frame_ms);
    std::printf("%-10s %-34s %6.1f %8.3f %9.2f %9.2f %9.1f %10.0f\n", p.name, p.what, tiles / n,
                pixels / n / 1e6, ms, median(jpeg_ms), pixels / n / 1e3 / ms, bytes / n);
    std::printf("RESULT %s ms=%.3f jpeg_ms=%.3f bytes=%.0f\n", p.name, ms, median(jpeg_ms),
                bytes / n);
}

void run_unchanged(const std::vector<std::uint8_t>& shown)
{
    const std::vector<std::uint8_t> grabbed = shown;  // same bytes, other memory
    FrameHistory history;
    std::vector<std::uint8_t> payload;
    history.previous_frame = shown;
    history.previous_valid = true;
    const int rounds = 40;
    Clock::time_point start = Clock::now();
    int tiles = 0;
    for (int i = 0; i < rounds; ++i)
        tiles += encode_frame_payload(history, picture_of(grabbed), inner_encoder, payload);
    const double diff = seconds_since(start) / rounds;

    // Called through a volatile pointer so the same comparison is not hoisted
    // out of the loop and done once.
    int (*volatile compare)(const void*, const void*, std::size_t) = std::memcmp;
    start = Clock::now();
    int differ = 0;
    for (int i = 0; i < rounds; ++i)
        differ += compare(grabbed.data(), shown.data(), grabbed.size()) != 0;
    const double whole = seconds_since(start) / rounds;
    const double mb = double(grabbed.size()) / 1e6;
    std::printf("\nunchanged 1920x1080 frame (%.1f MB compared, %d tiles, payload %zu bytes):\n",
                mb, tiles, payload.size());
    std::printf("  encode_frame diff only   %8.3f ms  %6.2f GB/s\n", diff * 1e3, mb / diff / 1e3);
    std::printf("  one memcmp of the frame  %8.3f ms  %6.2f GB/s%s\n", whole * 1e3,
                mb / whole / 1e3, differ ? "  (found a difference!)" : "");
    std::printf("RESULT unchanged ms=%.3f memcmp_ms=%.3f\n", diff * 1e3, whole * 1e3);
}

bool write_ppm(const std::vector<std::uint8_t>& bits, const char* path)
{
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", DESKTOP_WIDTH, DESKTOP_HEIGHT);
    for (std::size_t i = 0; i < bits.size(); i += 4) {
        const unsigned char rgb[3] = {bits[i + 2], bits[i + 1], bits[i]};
        std::fwrite(rgb, 1, 3, f);
    }
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    BenchEncoder encoder;
    if (!start_bench_encoder(encoder)) {
        std::fprintf(stderr, "capture_bench: the JPEG encoder is not available\n");
        return 1;
    }
    inner_encoder = encoder.encode;

    const std::vector<std::uint8_t> desktop = draw_desktop({});
    const std::vector<std::uint8_t> typed = draw_desktop({0, 1});
    const std::vector<std::uint8_t> scrolled = draw_desktop({1, 0});
    if (argc == 3 && std::string(argv[1]) == "--picture" && !write_ppm(desktop, argv[2])) {
        std::fprintf(stderr, "capture_bench: cannot write %s\n", argv[2]);
        return 1;
    }

    std::printf("encoder: %s\npicture: %dx%d desktop (text, window chrome, photo)\n\n",
                encoder.name, DESKTOP_WIDTH, DESKTOP_HEIGHT);
    std::printf("%-10s %-34s %6s %8s %9s %9s %9s %10s\n", "pattern", "change", "tiles", "MP",
                "ms/frame", "jpeg ms", "MP/s", "bytes");
    const Pattern patterns[] = {
        {"full", "whole frame sent", &desktop, &desktop, true, 31},
        {"typing", "one letter typed and erased", &desktop, &typed, false, 300},
        {"scrolling", "editor scrolls one line each way", &desktop, &scrolled, false, 31},
    };
    for (const Pattern& p : patterns)
        run_pattern(p);
    run_unchanged(desktop);
    return 0;
}
