#pragma once
// The viewer's half of the JPEG tiles: each tile is decoded by libjpeg-turbo
// straight into the rows of the canvas, with no picture of its own in between.
#include <cstdint>

#include "capture/frame_payload.h"

// Top-down rows of `width` pixels, 4 bytes each (blue, green, red, ignored).
struct CanvasPixels {
    std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
};

// An image larger than its tile is decoded aside and cut; this bounds that
// buffer. The agent's largest tile is a full-width band of 65535 x 128.
inline constexpr std::uint64_t MAX_TILE_IMAGE_PIXELS = 65535ull * 128;

// Paints one tile at (x, y): at most w x h pixels of its image, never past
// the canvas. False when nothing was painted: the JPEG header cannot be read,
// the tile lies wholly outside, or an image that needs cutting is too large.
// A stream that breaks off inside its data leaves what was decoded of it.
// The calling thread keeps one decompressor from call to call.
bool paint_jpeg_tile(const FrameTileView& tile, const CanvasPixels& canvas);

// Frees the calling thread's decompressor; a thread that has decoded calls it
// before it ends, as with release_jpeg_encoder.
void release_tile_decoder();
