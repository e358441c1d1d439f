// The JPEG tiles both ways, with the libjpeg-turbo each build links: the
// agent's encoder reading a picture in place, the viewer's decoder writing
// straight into canvas rows and never past what a tile may cover.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "capture/jpeg_tiles.h"
#include "tests/capture/test_picture.h"
#include "viewer/tile_decoder.h"

namespace {

constexpr std::uint8_t UNTOUCHED = 0x5A;

struct Canvas {
    int width, height;
    std::vector<std::uint8_t> bits;  // exactly the canvas: ASan sees any write past it
    Canvas(int w, int h) : width(w), height(h), bits(std::size_t(w) * h * 4, UNTOUCHED) {}
    CanvasPixels pixels() { return {bits.data(), width, height}; }
};

FrameTileView tile_of(const std::vector<std::uint8_t>& jpeg, int x, int y, int w, int h)
{
    const auto u16 = [](int v) { return std::uint16_t(v); };
    return {u16(x), u16(y), u16(w), u16(h), jpeg.data(), std::uint32_t(jpeg.size())};
}

std::vector<std::uint8_t> encoded(const std::vector<std::uint8_t>& picture, int stride, int x,
                                  int y, int w, int h)
{
    std::vector<std::uint8_t> jpeg;
    EXPECT_TRUE(encode_jpeg_region(picture.data(), stride, x, y, w, h, jpeg));
    return jpeg;
}

// Pixels of the canvas outside the rectangle that still hold UNTOUCHED.
bool untouched_outside(const Canvas& c, int x0, int y0, int w, int h)
{
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            if (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h)
                continue;
            for (int b = 0; b < 4; ++b)
                if (c.bits[(std::size_t(y) * c.width + x) * 4 + b] != UNTOUCHED)
                    return false;
        }
    return true;
}

} // namespace

TEST(JpegTiles, RegionsReadInPlaceComeBackWithinJpegError)
{
    const int width = 640, height = 400;
    const std::vector<std::uint8_t> picture = test_picture(width, height);
    struct Case {
        int x, y, w, h;
    };
    const Case cases[] = {{0, 0, 640, 400}, {128, 256, 300, 144}, {637, 399, 3, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        const std::vector<std::uint8_t> jpeg = encoded(picture, width * 4, c.x, c.y, c.w, c.h);
        ASSERT_GE(jpeg.size(), 4u);
        // Exactly one file: start-of-image first, end-of-image last, no slack.
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);
        EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
        EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

        Canvas canvas(c.w, c.h);
        ASSERT_TRUE(paint_jpeg_tile(tile_of(jpeg, 0, 0, c.w, c.h), canvas.pixels()));
        const Difference d =
            compare(canvas.bits.data(), c.w * 4, &picture[(std::size_t(c.y) * width + c.x) * 4],
                    width * 4, c.w, c.h);
        EXPECT_LT(d.mean, 4.0);
        EXPECT_LT(d.far_share, 0.001);
    }
}

TEST(JpegTiles, NothingToEncodeGivesNothing)
{
    const std::vector<std::uint8_t> picture = test_picture(16, 16);
    std::vector<std::uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(encode_jpeg_region(picture.data(), 64, 0, 0, 0, 16, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(encode_jpeg_region(nullptr, 64, 0, 0, 16, 16, out));
    EXPECT_FALSE(encode_jpeg_region(picture.data(), 64, 8, 0, 16, 16, out));  // past the row
    EXPECT_TRUE(out.empty());
}

TEST(JpegTiles, PaintingStaysInsideTheTileAndTheCanvas)
{
    const std::vector<std::uint8_t> picture = test_picture(128, 128);
    const std::vector<std::uint8_t> jpeg = encoded(picture, 128 * 4, 0, 0, 128, 128);
    // The same image, its frame header claiming 65535 x 65535 pixels.
    std::vector<std::uint8_t> giant = jpeg;
    for (std::size_t i = 2; i + 8 < giant.size(); ++i)
        if (giant[i] == 0xFF && giant[i + 1] == 0xC0) {
            giant[i + 5] = giant[i + 6] = giant[i + 7] = giant[i + 8] = 0xFF;
            break;
        }
    const std::vector<std::uint8_t> not_jpeg = {0xFF, 0xD8, 0x00, 0x01, 0x02};

    struct Case {
        const char* what;
        const std::vector<std::uint8_t>* jpeg;
        int x, y, w, h;
        bool painted;
        int paint_w, paint_h;  // the rectangle at (x, y) that changes
    };
    const Case cases[] = {
        {"whole tile inside", &jpeg, 64, 0, 128, 128, true, 128, 128},
        {"past the right edge", &jpeg, 256, 0, 128, 128, true, 64, 128},
        {"past the bottom", &jpeg, 0, 96, 128, 128, true, 128, 64},
        {"image larger than its tile", &jpeg, 0, 0, 64, 32, true, 64, 32},
        {"wholly outside", &jpeg, 320, 0, 128, 128, false, 0, 0},
        {"not a JPEG", &not_jpeg, 0, 0, 128, 128, false, 0, 0},
        {"too large to cut", &giant, 0, 0, 128, 128, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Canvas canvas(320, 160);
        EXPECT_EQ(paint_jpeg_tile(tile_of(*c.jpeg, c.x, c.y, c.w, c.h), canvas.pixels()),
                  c.painted);
        EXPECT_TRUE(untouched_outside(canvas, c.x, c.y, c.paint_w, c.paint_h));
        // Whatever this tile did to the decoder, the next one paints.
        Canvas next(128, 128);
        EXPECT_TRUE(paint_jpeg_tile(tile_of(jpeg, 0, 0, 128, 128), next.pixels()));
        if (!c.painted)
            continue;
        const Difference d =
            compare(&canvas.bits[(std::size_t(c.y) * canvas.width + c.x) * 4], canvas.width * 4,
                    picture.data(), 128 * 4, c.paint_w, c.paint_h);
        EXPECT_LT(d.mean, 4.0);
    }
}

TEST(JpegTiles, ThreadsEncodeAndDecodeAtOnce)
{
    // The agent encodes on its accept thread while a viewer of the same
    // process decodes on its network thread: each has its own codec.
    const int width = 1024, height = 128;
    const std::vector<std::uint8_t> picture = test_picture(width, height);
    const std::vector<std::uint8_t> alone = encoded(picture, width * 4, 0, 0, width, height);
    Canvas reference(width, height);
    ASSERT_TRUE(paint_jpeg_tile(tile_of(alone, 0, 0, width, height), reference.pixels()));

    auto work = [&](bool& same) {
        same = true;
        std::vector<std::uint8_t> jpeg;
        Canvas canvas(width, height);
        for (int round = 0; round < 40; ++round) {
            same = same &&
                   encode_jpeg_region(picture.data(), width * 4, 0, 0, width, height, jpeg) &&
                   jpeg == alone &&
                   paint_jpeg_tile(tile_of(alone, 0, 0, width, height), canvas.pixels()) &&
                   canvas.bits == reference.bits;
        }
        release_jpeg_encoder();
        release_tile_decoder();
    };
    bool first = false, second = false;
    std::thread a(work, std::ref(first)), b(work, std::ref(second));
    a.join();
    b.join();
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
}
