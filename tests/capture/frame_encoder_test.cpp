#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "capture/frame_encoder.h"
#include "capture/frame_payload.h"

// Counts heap allocations while `counting` is set, to show that a frame of a
// settled size allocates nothing.
namespace {
bool counting = false;
int allocations = 0;
} // namespace

#if defined(__GNUC__) && !defined(__clang__)
// The replacement pair is malloc/free on both sides; GCC sees only the names.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Rect {
    int x, y, w, h;
    bool operator==(const Rect&) const = default;
};

// The fake JPEG is the rectangle's raw pixels, so a test can rebuild what the
// viewer would show from the payload alone.
std::vector<Rect> encoded;
int fail_at_x = -1;  // rectangles starting at this x fail

bool raw_encoder(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                 std::vector<std::uint8_t>& out)
{
    encoded.push_back({x, y, width, height});
    out.clear();
    if (x == fail_at_x)
        return false;
    out.resize(std::size_t(width) * 4 * height);
    for (int r = 0; r < height; ++r)
        std::memcpy(out.data() + std::size_t(r) * width * 4,
                    bits + std::size_t(y + r) * stride + std::size_t(x) * 4,
                    std::size_t(width) * 4);
    return true;
}

struct Screen {
    int width, height;
    std::vector<std::uint8_t> bits;
    Screen(int w, int h) : width(w), height(h), bits(std::size_t(w) * h * 4)
    {
        for (std::size_t i = 0; i < bits.size(); ++i)
            bits[i] = std::uint8_t(i * 7 / 5);
    }
    FramePicture picture() const { return {bits.data(), width, height, width * 4}; }
    void touch(int x, int y) { bits[(std::size_t(y) * width + x) * 4 + 1] ^= 0x5A; }
};

struct Encoder {
    FrameHistory history;
    std::vector<std::uint8_t> payload;
    Encoder(const Screen& s)
    {
        history.previous_frame.assign(std::size_t(s.width) * 4 * s.height, 0);
    }
    std::vector<Rect> encode(const Screen& s)
    {
        encoded.clear();
        const int count = encode_frame_payload(history, s.picture(), raw_encoder, payload);
        std::vector<Rect> tiles = read_tiles();
        EXPECT_EQ(int(tiles.size()), count);
        return tiles;
    }
    std::vector<Rect> read_tiles() const
    {
        std::vector<Rect> tiles;
        FrameReader reader;
        FrameHeader header;
        if (!begin_frame(reader, payload.data(), payload.size(), header))
            return tiles;
        FrameTileView tile;
        while (next_frame_tile(reader, tile))
            tiles.push_back({tile.x, tile.y, tile.w, tile.h});
        EXPECT_EQ(reader.position, payload.size());  // nothing after the last tile
        return tiles;
    }
};

// Paints every tile of a payload into a canvas, as the viewer does.
void apply(std::vector<std::uint8_t>& canvas, int width, const std::vector<std::uint8_t>& payload)
{
    FrameReader reader;
    FrameHeader header;
    if (!begin_frame(reader, payload.data(), payload.size(), header))
        return;
    FrameTileView t;
    while (next_frame_tile(reader, t)) {
        ASSERT_EQ(t.size, std::uint32_t(t.w) * 4 * t.h);
        for (int r = 0; r < t.h; ++r)
            std::memcpy(canvas.data() + (std::size_t(t.y + r) * width + t.x) * 4,
                        t.jpeg + std::size_t(r) * t.w * 4, std::size_t(t.w) * 4);
    }
}

} // namespace

TEST(FrameEncoder, CompleteFrameIsOneTilePerRowOfTiles)
{
    Screen s(1920, 1080);
    Encoder e(s);
    const std::vector<Rect> tiles = e.encode(s);
    ASSERT_EQ(tiles.size(), 9u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(tiles[i], (Rect{0, 128 * i, 1920, 128}));
    EXPECT_EQ(tiles[8], (Rect{0, 1024, 1920, 56}));
    EXPECT_EQ(e.payload.size(), 6 + 9 * 12 + 1920u * 1080 * 4);
    LeReader header(e.payload.data(), e.payload.size());
    std::uint16_t width = 0, height = 0;
    ASSERT_TRUE(header.read_u16(width) && header.read_u16(height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    EXPECT_TRUE(e.history.previous_valid);
    EXPECT_EQ(e.history.previous_frame, s.bits);
}

TEST(FrameEncoder, ChangedTilesAndTheirRuns)
{
    struct Case {
        const char* name;
        int width, height;
        std::vector<std::pair<int, int>> touched;  // pixels changed after a complete frame
        std::vector<Rect> tiles;
    };
    const Case cases[] = {
        {"one pixel at (130,5)", 1920, 1080, {{130, 5}}, {{128, 0, 128, 128}}},
        {"columns 0 and 2", 1920, 1080, {{0, 0}, {300, 127}},
         {{0, 0, 128, 128}, {256, 0, 128, 128}}},
        {"columns 0, 1, 2", 1920, 1080, {{0, 0}, {200, 60}, {383, 127}}, {{0, 0, 384, 128}}},
        {"run to the right edge of 1000", 1000, 300, {{800, 140}, {999, 255}},
         {{768, 128, 232, 128}}},
        {"last column alone", 1000, 300, {{896, 0}}, {{896, 0, 104, 128}}},
        {"short last row", 1920, 1080, {{5, 1079}}, {{0, 1024, 128, 56}}},
        {"two rows, found top to bottom", 1920, 1080, {{1919, 1079}, {0, 0}},
         {{0, 0, 128, 128}, {1792, 1024, 128, 56}}},
        {"1x1 area", 1, 1, {{0, 0}}, {{0, 0, 1, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen s(c.width, c.height);
        Encoder e(s);
        e.encode(s);
        for (auto [x, y] : c.touched)
            s.touch(x, y);
        EXPECT_EQ(e.encode(s), c.tiles);
        EXPECT_EQ(encoded, c.tiles);  // nothing else was encoded
        EXPECT_EQ(e.history.previous_frame, s.bits);
    }
}

TEST(FrameEncoder, UnchangedScreenIsSixBytes)
{
    Screen s(1920, 1080);
    Encoder e(s);
    e.encode(s);
    const std::vector<std::uint8_t> sent = e.history.previous_frame;
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_TRUE(e.encode(s).empty());
        EXPECT_EQ(e.payload, (std::vector<std::uint8_t>{0x80, 0x07, 0x38, 0x04, 0, 0}));
        EXPECT_TRUE(encoded.empty());
        EXPECT_EQ(e.history.previous_frame, sent);
    }
}

TEST(FrameEncoder, FailedRectangleIsLeftOutAndSentWithTheNextFrame)
{
    Screen s(1920, 1080);
    Encoder e(s);
    e.encode(s);
    const std::vector<std::uint8_t> sent = e.history.previous_frame;
    s.touch(10, 10);   // run at x = 0
    s.touch(600, 10);  // run at x = 512, which fails
    fail_at_x = 512;
    EXPECT_EQ(e.encode(s), (std::vector<Rect>{{0, 0, 128, 128}}));
    fail_at_x = -1;
    // Untouched where it failed, so those pixels still count as changed.
    for (int r = 0; r < 128; ++r) {
        const std::size_t at = std::size_t(r) * 1920 * 4 + 512 * 4;
        ASSERT_EQ(std::memcmp(e.history.previous_frame.data() + at, sent.data() + at, 128 * 4), 0);
    }
    EXPECT_TRUE(e.history.previous_valid);
    EXPECT_EQ(e.encode(s), (std::vector<Rect>{{512, 0, 128, 128}}));
    EXPECT_EQ(e.history.previous_frame, s.bits);
}

TEST(FrameEncoder, CompleteFrameWithAFailureStaysIncomplete)
{
    // The viewer's picture there is not what previous_frame holds; only a new
    // complete frame makes them agree again.
    Screen s(512, 512);
    Encoder e(s);
    fail_at_x = 0;
    EXPECT_TRUE(e.encode(s).empty());
    EXPECT_EQ(e.payload.size(), 6u);
    EXPECT_FALSE(e.history.previous_valid);
    fail_at_x = -1;
    EXPECT_EQ(e.encode(s).size(), 4u);
    EXPECT_TRUE(e.history.previous_valid);
}

TEST(FrameEncoder, ViewerPictureFollowsTheScreen)
{
    // Random scribbles over many frames: painting each payload's tiles over
    // the last picture must always give the screen, and the encoder must
    // only ever be handed rectangles that changed.
    const int width = 700, height = 400;
    Screen s(width, height);
    Encoder e(s);
    std::vector<std::uint8_t> canvas(s.bits.size(), 0);
    std::mt19937 random(7);
    for (int frame = 0; frame < 40; ++frame) {
        const int strokes = int(random() % 6);
        for (int i = 0; i < strokes; ++i) {
            const int x = int(random() % width), y = int(random() % height);
            const int len = int(random() % 200);
            for (int k = 0; k < len && x + k < width; ++k)
                s.touch(x + k, y);
        }
        if (frame == 20)
            e.history.previous_valid = false;  // as after a desktop switch
        e.encode(s);
        apply(canvas, width, e.payload);
        ASSERT_EQ(canvas, s.bits) << "frame " << frame;
        ASSERT_EQ(e.history.previous_frame, s.bits) << "frame " << frame;
    }
}

TEST(FrameEncoder, SettledFramesAllocateNothing)
{
    Screen s(1920, 1080);
    Encoder e(s);
    e.encode(s);  // complete: the largest payload, sizes every buffer
    encoded.reserve(64);
    counting = true;
    allocations = 0;
    for (int frame = 0; frame < 5; ++frame) {
        s.touch(130 + frame, 5);
        s.touch(1000, 700 + frame);
        encode_frame_payload(e.history, s.picture(), raw_encoder, e.payload);
    }
    encode_frame_payload(e.history, s.picture(), raw_encoder, e.payload);
    counting = false;
    EXPECT_EQ(allocations, 0);
}

TEST(FrameEncoder, PreviousFrameOfAnotherSizeMakesACompleteFrame)
{
    Screen s(300, 200);
    FrameHistory history;
    history.previous_valid = true;  // but nothing to compare with
    std::vector<std::uint8_t> payload;
    encoded.clear();
    EXPECT_EQ(encode_frame_payload(history, s.picture(), raw_encoder, payload), 2);
    EXPECT_EQ(history.previous_frame, s.bits);
}
