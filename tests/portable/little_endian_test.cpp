#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "net/little_endian.h"

// Writers and reader agree, byte order included, for every width.
TEST(LittleEndian, FieldsRoundTripInByteOrder)
{
    std::vector<std::uint8_t> out;
    out.push_back(0xAB);
    append_le16(out, 0x1234);
    append_le32(out, 0x89ABCDEF);
    append_le64(out, 0x0102030405060708ull);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0x08, 0x07,
                                              0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
    put_le16(out.data() + 1, 0xBEEF);

    LeReader r(out.data(), out.size());
    std::uint8_t a = 0;
    std::uint16_t b = 0;
    std::uint32_t c = 0;
    std::uint64_t d = 0;
    ASSERT_TRUE(r.read_u8(a) && r.read_u16(b) && r.read_u32(c) && r.read_u64(d));
    EXPECT_EQ(a, 0xAB);
    EXPECT_EQ(b, 0xBEEF);
    EXPECT_EQ(c, 0x89ABCDEFu);
    EXPECT_EQ(d, 0x0102030405060708ull);
    EXPECT_EQ(r.left(), 0u);
}

// A field or a byte run that would pass the end is refused, the position and
// the value stay as they were, and a read that fits still works afterwards.
TEST(LittleEndian, ReadsPastTheEndAreRefusedWithoutMoving)
{
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
    struct Case {
        std::size_t size;  // bytes the reader may see
        std::size_t skip;  // read first
        int width;         // 2, 4 or 8: the field tried next
        bool fits;
    };
    const Case cases[] = {
        {0, 0, 2, false}, {1, 0, 2, false}, {2, 0, 2, true},  {5, 4, 2, false},
        {3, 0, 4, false}, {4, 0, 4, true},  {5, 2, 4, false}, {5, 0, 8, false},
    };
    for (const Case& c : cases) {
        LeReader r(bytes, c.size);
        ASSERT_TRUE(r.skip(c.skip));
        std::uint64_t value = 77;
        bool ok = false;
        if (c.width == 2) {
            std::uint16_t v = 77;
            ok = r.read_u16(v);
            value = v;
        } else if (c.width == 4) {
            std::uint32_t v = 77;
            ok = r.read_u32(v);
            value = v;
        } else {
            ok = r.read_u64(value);
        }
        EXPECT_EQ(ok, c.fits) << c.size << " " << c.skip << " " << c.width;
        if (!c.fits) {
            EXPECT_EQ(value, 77u);
            EXPECT_EQ(r.position, c.skip);
        }
    }

    LeReader r(bytes, sizeof bytes);
    const std::uint8_t* at = nullptr;
    EXPECT_FALSE(r.read_bytes(6, at));
    EXPECT_FALSE(r.read_bytes(UINT64_MAX, at));  // no sum with the position can wrap
    EXPECT_FALSE(r.skip(std::uint64_t(1) << 63));
    EXPECT_EQ(at, nullptr);
    EXPECT_EQ(r.position, 0u);
    ASSERT_TRUE(r.read_bytes(5, at));
    EXPECT_EQ(at, bytes);
    std::uint8_t last = 0;
    EXPECT_FALSE(r.read_u8(last));

    LeReader none(nullptr, 100);  // no data: nothing to read, whatever the size says
    EXPECT_EQ(none.left(), 0u);
    EXPECT_FALSE(none.read_u8(last));
}
