// The reference for the viewer's decode cost: the same MSG_FRAME payloads
// (saved by viewer_bench --save) decoded natively with libjpeg-turbo straight
// into the rows of a canvas, the least work a decoder can do with them.
//   viewer_bench_native DIR
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/viewer/tile_area.h"
#include "capture/frame_payload.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Canvas {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bits;
};

void decode(tjhandle handle, Canvas& canvas, const std::vector<std::uint8_t>& payload)
{
    FrameReader reader;
    FrameHeader header;
    if (!begin_frame(reader, payload.data(), payload.size(), header))
        return;
    if (canvas.width != header.width || canvas.height != header.height) {
        canvas.width = header.width;
        canvas.height = header.height;
        canvas.bits.assign(std::size_t(header.width) * header.height * 4, 0);
    }
    FrameTileView tile;
    while (next_frame_tile(reader, tile)) {
        int w = 0, h = 0, sub = 0, colour = 0;
        if (tjDecompressHeader3(handle, tile.jpeg, tile.size, &w, &h, &sub, &colour) != 0 ||
            tile.x + w > canvas.width || tile.y + h > canvas.height)
            continue;
        tjDecompress2(handle, tile.jpeg, tile.size,
                      &canvas.bits[(std::size_t(tile.y) * canvas.width + tile.x) * 4], w,
                      canvas.width * 4, h, TJPF_BGRX, 0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: viewer_bench_native DIR\n");
        return 2;
    }
    tjhandle handle = tjInitDecompress();
    Canvas canvas;
    std::printf("decode, libjpeg-turbo (native reference)\n%-10s %9s %10s %10s %10s\n", "pattern",
                "bytes", "tile MP", "ms/frame", "MP/s");
    for (const char* name : {"full", "typing", "scrolling"}) {
        std::ifstream in(std::string(argv[1]) + "/" + name + ".frame", std::ios::binary);
        const std::vector<std::uint8_t> payload{std::istreambuf_iterator<char>(in),
                                                std::istreambuf_iterator<char>()};
        if (payload.empty())
            continue;
        const int rounds = payload.size() > 50000 ? 31 : 101;
        decode(handle, canvas, payload);
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            const auto start = Clock::now();
            decode(handle, canvas, payload);
            times.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        const double ms = times[times.size() / 2];  // the median, as on the Windows side
        const double mp = tile_megapixels(payload);
        std::printf("%-10s %9zu %10.2f %10.2f %10.1f\n", name, payload.size(), mp, ms,
                    mp / (ms / 1000));
        std::printf("RESULT %s ms=%.3f\n", name, ms);
    }
    tjDestroy(handle);
    return 0;
}
