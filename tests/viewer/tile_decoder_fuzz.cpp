// A peer's tile painted into a canvas: whatever the tile's place and size and
// whatever its JPEG bytes, the decoder writes only inside the canvas (which
// is exactly as large as it says; the sanitizer watches its edges) and only
// inside the rectangle the tile may cover, and the next sound tile paints.
//
// Input: canvas width and height (1 byte each), x, y, w, h (2 bytes each),
// a choice byte, then either the JPEG itself (even choice) or flips applied
// to a real JPEG of a size the choice picks (odd choice), one byte of
// position and one of value each.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/jpeg_tiles.h"
#include "viewer/tile_decoder.h"

namespace {

constexpr std::uint8_t UNTOUCHED = 0x5A;

std::vector<std::uint8_t> real_jpeg(int width, int height)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint8_t(i * 37 / 5);
    std::vector<std::uint8_t> jpeg;
    encode_jpeg_region(pixels.data(), width * 4, 0, 0, width, height, jpeg);
    return jpeg;
}

const std::vector<std::vector<std::uint8_t>>& real_jpegs()
{
    static const std::vector<std::vector<std::uint8_t>> jpegs = {
        real_jpeg(128, 128), real_jpeg(37, 5), real_jpeg(300, 128), real_jpeg(1, 1)};
    return jpegs;
}

std::uint16_t u16(const std::uint8_t* at) { return std::uint16_t(at[0] | at[1] << 8); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 11)
        return 0;
    const int width = data[0] + 1, height = data[1] + 1;
    FrameTileView tile{u16(data + 2), u16(data + 4), u16(data + 6), u16(data + 8), nullptr, 0};
    const std::uint8_t choice = data[10];
    std::vector<std::uint8_t> jpeg;
    if (choice % 2 == 0) {
        jpeg.assign(data + 11, data + size);
    } else {
        jpeg = real_jpegs()[choice / 2 % real_jpegs().size()];
        for (std::size_t i = 11; i + 1 < size; i += 2)
            jpeg[data[i] * jpeg.size() / 256] ^= data[i + 1];
    }
    if (jpeg.empty())
        return 0;
    tile.jpeg = jpeg.data();
    tile.size = std::uint32_t(jpeg.size());

    std::vector<std::uint8_t> canvas(std::size_t(width) * height * 4, UNTOUCHED);
    paint_jpeg_tile(tile, {canvas.data(), width, height});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool inside =
                x >= tile.x && x < tile.x + tile.w && y >= tile.y && y < tile.y + tile.h;
            if (!inside &&
                std::memcmp(&canvas[(std::size_t(y) * width + x) * 4], "\x5A\x5A\x5A\x5A", 4) != 0)
                std::abort();
        }
    // Whatever that tile did to the decoder, a sound one paints after it.
    const std::vector<std::uint8_t>& sound = real_jpegs()[3];
    if (!paint_jpeg_tile({0, 0, 1, 1, sound.data(), std::uint32_t(sound.size())},
                         {canvas.data(), width, height}))
        std::abort();
    return 0;
}
