#pragma once
// The MSG_FRAME payload, little-endian, no padding:
//   width u16, height u16, count u16, then count tiles of
//   x u16, y u16, w u16, h u16, size u32, size bytes of JPEG.
// The reader walks untrusted bytes: every field is checked against what is
// left of the payload before it is read, and nothing is allocated.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/little_endian.h"

inline constexpr std::size_t FRAME_PAYLOAD_HEADER_SIZE = 6;
inline constexpr std::size_t FRAME_TILE_HEADER_SIZE = 12;

struct FrameHeader {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t count = 0;
};

// One tile as it stands in the payload; `jpeg` points into the payload.
struct FrameTileView {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t w = 0;
    std::uint16_t h = 0;
    const std::uint8_t* jpeg = nullptr;
    std::uint32_t size = 0;
};

struct FrameReader : LeReader {
    std::uint16_t count = 0;  // tiles announced
    std::uint16_t seen = 0;   // tiles handed out
};

// Starts reading a payload. False, with nothing to read, when it is shorter
// than the header or announces a zero width, height or tile count: such a
// frame leaves the picture as it is.
bool begin_frame(FrameReader& reader, const std::uint8_t* data, std::size_t size,
                 FrameHeader& header);

// The next tile, or false when the announced count has been handed out or the
// next tile's header or data would run past the payload, or its size is 0.
// Tiles before a damaged one are still handed out.
bool next_frame_tile(FrameReader& reader, FrameTileView& tile);
