#pragma once
// The pixels a frame's tiles cover, counted the same way on both sides of the
// decode benchmark.
#include <cstdint>
#include <vector>

#include "capture/frame_payload.h"

inline double tile_megapixels(const std::vector<std::uint8_t>& payload)
{
    FrameReader reader;
    FrameHeader header;
    double pixels = 0;
    if (begin_frame(reader, payload.data(), payload.size(), header)) {
        FrameTileView tile;
        while (next_frame_tile(reader, tile))
            pixels += double(tile.w) * tile.h;
    }
    return pixels / 1e6;
}
