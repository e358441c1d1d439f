// The reference for the viewer's decode cost: the same MSG_FRAME payloads
// (saved by viewer_bench --save) decoded with libjpeg-turbo into a canvas
// with the same row copies.
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
    std::vector<std::uint8_t> tile;
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
        if (tjDecompressHeader3(handle, tile.jpeg, tile.size, &w, &h, &sub, &colour) != 0)
            continue;
        canvas.tile.resize(std::size_t(w) * h * 4);
        if (tjDecompress2(handle, tile.jpeg, tile.size, canvas.tile.data(), w, 0, h, TJPF_BGRX, 0))
            continue;
        const int cw = std::min({int(tile.w), w, canvas.width - tile.x});
        const int ch = std::min({int(tile.h), h, canvas.height - tile.y});
        for (int row = 0; row < ch; ++row)
            std::memcpy(&canvas.bits[(std::size_t(tile.y + row) * canvas.width + tile.x) * 4],
                        &canvas.tile[std::size_t(row) * w * 4], std::size_t(std::max(cw, 0)) * 4);
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
        const int rounds = payload.size() > 50000 ? 20 : 200;
        decode(handle, canvas, payload);
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            decode(handle, canvas, payload);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const double mp = tile_megapixels(payload);
        std::printf("%-10s %9zu %10.2f %10.2f %10.1f\n", name, payload.size(), mp, ms / rounds,
                    mp / (ms / rounds / 1000));
    }
    tjDestroy(handle);
    return 0;
}
