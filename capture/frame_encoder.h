#pragma once
// Turns a grabbed picture into the payload of one MSG_FRAME: the area is cut
// into 128-pixel tiles, changed tiles that touch within a row of tiles are
// merged into one rectangle, and each rectangle becomes one JPEG image. The
// JPEG encoder is handed in, so the change detection and the payload layout
// are the same code on every build.
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int TILE_SIZE = 128;
inline constexpr int JPEG_QUALITY = 70;
inline constexpr int MAX_FRAME_TILES = 65535;  // the tile count is a 16-bit field

// Compresses the width x height rectangle at (x, y) of a top-down 32-bit
// buffer (blue, green, red, ignored; `stride` bytes a row, `bits` its first
// pixel) into `out`, replacing what it held. True when out holds a JPEG file.
using RegionEncoder = bool (*)(const std::uint8_t* bits, int stride, int x, int y, int width,
                               int height, std::vector<std::uint8_t>& out);

// What the viewer has been sent, and scratch buffers kept from frame to frame
// so that encoding a frame allocates nothing once the sizes have settled.
struct FrameHistory {
    std::vector<std::uint8_t> previous_frame;  // stride * height bytes, as last sent
    bool previous_valid = false;               // false: the next frame is complete
    std::vector<std::uint8_t> changed;         // one flag per column of tiles
    std::vector<std::uint8_t> jpeg;            // one encoded rectangle
};

struct FramePicture {
    const std::uint8_t* bits = nullptr;  // top-down rows, 4 bytes a pixel
    int width = 0;
    int height = 0;
    int stride = 0;                      // bytes a row, at least width * 4
};

// Replaces `payload` with the MSG_FRAME payload for `picture` and returns the
// number of tiles. Rows of changed rectangles that encoded are copied into
// previous_frame; a rectangle that fails to encode is left out and stays
// different from previous_frame, so it goes again with the next frame.
int encode_frame_payload(FrameHistory& history, const FramePicture& picture,
                         RegionEncoder encode, std::vector<std::uint8_t>& payload);

// Whether the tile_width x rows block at (x0, y0) differs between the picture
// and previous_frame: one memcmp a row, stopping at the first difference.
bool tile_changed(const FramePicture& picture, const std::uint8_t* previous, int x0, int y0,
                  int tile_width, int rows);
