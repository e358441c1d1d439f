#include <gtest/gtest.h>

#include <vector>

#include "capture/frame_payload.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(std::uint16_t width, std::uint16_t height, std::uint16_t count)
{
    Bytes out;
    append_le16(out, width);
    append_le16(out, height);
    append_le16(out, count);
    return out;
}

// A tile whose size field says `size` and which carries `carried` bytes.
void add_tile(Bytes& out, std::uint16_t x, std::uint16_t y, std::uint32_t size,
              std::uint32_t carried)
{
    append_le16(out, x);
    append_le16(out, y);
    append_le16(out, 128);
    append_le16(out, 128);
    append_le32(out, size);
    for (std::uint32_t i = 0; i < carried; ++i)
        out.push_back(std::uint8_t(x + i));
}

std::vector<FrameTileView> read_all(const Bytes& payload, bool* started = nullptr)
{
    std::vector<FrameTileView> tiles;
    FrameReader reader;
    FrameHeader h;
    const bool ok = begin_frame(reader, payload.data(), payload.size(), h);
    if (started)
        *started = ok;
    FrameTileView t;
    while (ok && next_frame_tile(reader, t))
        tiles.push_back(t);
    return tiles;
}

} // namespace

TEST(FramePayload, HeaderThatStartsNothing)
{
    const Bytes cases[] = {
        {}, {0x80, 0x07, 0x38, 0x04, 0}, header(1920, 1080, 0), header(0, 1080, 1),
        header(1920, 0, 1),
    };
    for (const Bytes& payload : cases) {
        bool started = true;
        EXPECT_TRUE(read_all(payload, &started).empty());
        EXPECT_FALSE(started);
    }
    FrameReader reader;
    FrameHeader h;
    EXPECT_FALSE(begin_frame(reader, nullptr, 6, h));
}

TEST(FramePayload, ReadsFieldsLittleEndian)
{
    Bytes p = header(1920, 1080, 1);
    add_tile(p, 0x0380, 0x0400, 3, 3);
    FrameReader reader;
    FrameHeader h;
    ASSERT_TRUE(begin_frame(reader, p.data(), p.size(), h));
    EXPECT_EQ(h.width, 1920);
    EXPECT_EQ(h.height, 1080);
    EXPECT_EQ(h.count, 1);
    FrameTileView t;
    ASSERT_TRUE(next_frame_tile(reader, t));
    EXPECT_EQ(t.x, 0x0380);
    EXPECT_EQ(t.y, 0x0400);
    EXPECT_EQ(t.w, 128);
    EXPECT_EQ(t.h, 128);
    EXPECT_EQ(t.size, 3u);
    EXPECT_EQ(t.jpeg, p.data() + 18);
    EXPECT_FALSE(next_frame_tile(reader, t));
}

TEST(FramePayload, StopsAtTheFirstDamagedTile)
{
    struct Case {
        const char* name;
        Bytes payload;
        std::size_t tiles;
    };
    auto make = [](std::uint16_t count, auto&& add) {
        Bytes p = header(1920, 1080, count);
        add(p);
        return p;
    };
    const Case cases[] = {
        {"second of three runs past the end", make(3, [](Bytes& p) {
             add_tile(p, 0, 0, 10, 10);
             add_tile(p, 128, 0, 1000, 49);
             add_tile(p, 256, 0, 10, 10);
         }), 1},
        {"size exactly to the end", make(2, [](Bytes& p) {
             add_tile(p, 0, 0, 10, 10);
             add_tile(p, 128, 0, 7, 7);
         }), 2},
        {"zero size", make(2, [](Bytes& p) {
             add_tile(p, 0, 0, 0, 0);
             add_tile(p, 128, 0, 5, 5);
         }), 0},
        {"size near 4 GiB", make(2, [](Bytes& p) {
             add_tile(p, 0, 0, 4, 4);
             add_tile(p, 128, 0, 0xFFFFFFFF, 4);
         }), 1},
        {"tile header cut short", make(2, [](Bytes& p) {
             add_tile(p, 0, 0, 4, 4);
             p.insert(p.end(), 11, 0x01);
         }), 1},
        {"more tiles than announced", make(1, [](Bytes& p) {
             add_tile(p, 0, 0, 4, 4);
             add_tile(p, 128, 0, 4, 4);
         }), 1},
        {"fewer tiles than announced", make(5, [](Bytes& p) { add_tile(p, 0, 0, 4, 4); }), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<FrameTileView> tiles = read_all(c.payload);
        ASSERT_EQ(tiles.size(), c.tiles);
        for (const FrameTileView& t : tiles) {
            EXPECT_GE(t.jpeg, c.payload.data());
            EXPECT_LE(t.jpeg + t.size, c.payload.data() + c.payload.size());
        }
    }
}
