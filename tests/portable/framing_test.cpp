#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/framing.h"

namespace {

// A byte stream in memory; `chunk` bounds each read or write like a transport
// that moves only part of a buffer per call.
struct Pipe {
    std::vector<std::uint8_t> bytes;
    std::size_t read_at = 0;
    int chunk = 1 << 30;
    std::size_t fail_write_after = SIZE_MAX;
    std::size_t largest_read = 0;
};

int pipe_read(void* ctx, std::uint8_t* buffer, int size)
{
    auto* p = static_cast<Pipe*>(ctx);
    p->largest_read = std::max(p->largest_read, std::size_t(size));
    const std::size_t n = std::min({std::size_t(size), std::size_t(p->chunk),
                                    p->bytes.size() - p->read_at});
    if (n)
        std::memcpy(buffer, p->bytes.data() + p->read_at, n);
    p->read_at += n;
    return int(n);
}

int pipe_write(void* ctx, const std::uint8_t* buffer, int size)
{
    auto* p = static_cast<Pipe*>(ctx);
    if (p->bytes.size() >= p->fail_write_after)
        return 0;
    const int n = std::min(size, p->chunk);
    p->bytes.insert(p->bytes.end(), buffer, buffer + n);
    return n;
}

std::vector<std::uint8_t> frame(std::uint32_t length, std::uint8_t type,
                                std::vector<std::uint8_t> payload = {})
{
    std::vector<std::uint8_t> out{std::uint8_t(length >> 24), std::uint8_t(length >> 16),
                                  std::uint8_t(length >> 8), std::uint8_t(length), type};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

} // namespace

TEST(Framing, WireBytesForEachPayloadSize)
{
    struct Case { std::size_t payload; int chunk; };
    // 251 is the largest payload built on the stack, 252 the first on the heap;
    // a chunk of 3 makes every write partial. The last two fill the receive
    // buffer's first block exactly and make it grow several times.
    const Case cases[] = {{0, 1 << 30}, {2, 1 << 30}, {7, 3}, {251, 1 << 30}, {252, 1 << 30},
                          {251, 3}, {252, 3}, {100000, 4096}, {FIRST_PAYLOAD_BLOCK, 1 << 30},
                          {5 * FIRST_PAYLOAD_BLOCK + 3, 7000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        std::vector<std::uint8_t> payload(c.payload);
        for (std::size_t i = 0; i < payload.size(); ++i)
            payload[i] = std::uint8_t(i * 7 + 1);
        Pipe pipe;
        pipe.chunk = c.chunk;
        ASSERT_TRUE(write_message(pipe_write, &pipe, MSG_CLIPBOARD, payload.data(), payload.size()));
        EXPECT_EQ(pipe.bytes, frame(std::uint32_t(c.payload + 1), MSG_CLIPBOARD, payload));

        Message m;
        ASSERT_TRUE(read_message(pipe_read, &pipe, m));
        EXPECT_EQ(m.type, MSG_CLIPBOARD);
        ASSERT_EQ(m.size, c.payload);
        EXPECT_EQ(m.payload == nullptr, c.payload == 0);  // nothing allocated for empty
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), m.payload));
        free_message(m);
    }
}

TEST(Framing, LengthFieldLimits)
{
    struct Case { std::uint32_t length; std::uint32_t max; bool passes_check; };
    const Case cases[] = {
        {0, MAX_MSG_LEN, false},
        {MAX_MSG_LEN + 1, MAX_MSG_LEN, false},
        {0xFFFFFFFF, MAX_MSG_LEN, false},
        {1, MAX_MSG_LEN, true},
        {4097, 4097, true},
        {4098, 4097, false},  // the pre-authentication bound
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Pipe pipe;
        pipe.bytes = frame(c.length, MSG_AUTH);
        Message m;
        const bool ok = read_message(pipe_read, &pipe, m, c.max);
        EXPECT_EQ(ok, c.passes_check && c.length == 1);
        // A refused length is refused before the type byte or any payload is read.
        EXPECT_EQ(pipe.read_at, c.passes_check ? 5u : 4u);
        free_message(m);
    }
}

// A transport that supplies MAX_MSG_LEN bytes of zeros without holding them.
TEST(Framing, LargestLengthIsAccepted)
{
    struct Zeros {
        std::uint64_t left;
        bool header_sent = false;
    } zeros{MAX_MSG_LEN};
    auto read = [](void* ctx, std::uint8_t* buffer, int size) -> int {
        auto* z = static_cast<Zeros*>(ctx);
        if (!z->header_sent) {
            const std::uint8_t header[5] = {0x0D, 0xC0, 0x00, 0x00, MSG_FRAME};
            EXPECT_GE(size, 4);
            std::memcpy(buffer, header, 4);
            z->header_sent = true;
            return 4;
        }
        const int n = int(std::min<std::uint64_t>(std::uint64_t(size), z->left));
        std::memset(buffer, 0, std::size_t(n));
        z->left -= std::uint64_t(n);
        return n;
    };
    Message m;
    ASSERT_TRUE(read_message(read, &zeros, m));
    EXPECT_EQ(m.size, MAX_PAYLOAD);
    free_message(m);
}

// A peer that announces the largest message and sends only part of it makes
// the reader ask for, and hold, no more than about what has arrived: a buffer
// for the announced length is never allocated up front.
TEST(Framing, AnnouncedLengthCostsMemoryOnlyAsBytesArrive)
{
    for (std::size_t sent : {std::size_t(0), std::size_t(100), std::size_t(200000)}) {
        SCOPED_TRACE(sent);
        Pipe pipe;
        pipe.bytes = frame(MAX_MSG_LEN, MSG_CLIPBOARD, std::vector<std::uint8_t>(sent, 0x5A));
        Message m;
        EXPECT_FALSE(read_message(pipe_read, &pipe, m));
        EXPECT_EQ(m.payload, nullptr);
        EXPECT_EQ(pipe.read_at, pipe.bytes.size());
        EXPECT_LE(pipe.largest_read, std::max<std::size_t>(FIRST_PAYLOAD_BLOCK, sent));
    }
}

TEST(Framing, FailuresEndTheMessage)
{
    // Truncated payload: the partly read buffer is released and nothing returned.
    Pipe pipe;
    pipe.bytes = frame(10, MSG_FRAME, {1, 2, 3});
    Message m;
    EXPECT_FALSE(read_message(pipe_read, &pipe, m));
    EXPECT_EQ(m.payload, nullptr);

    Pipe empty;
    EXPECT_FALSE(read_message(pipe_read, &empty, m));

    // A write that stops midway fails; an oversized payload is never written.
    Pipe broken;
    broken.chunk = 2;
    broken.fail_write_after = 4;
    std::uint8_t payload[10] = {};
    EXPECT_FALSE(write_message(pipe_write, &broken, MSG_FRAME, payload, sizeof payload));
    Pipe untouched;
    EXPECT_FALSE(write_message(pipe_write, &untouched, MSG_FRAME, payload, MAX_PAYLOAD + 1));
    EXPECT_TRUE(untouched.bytes.empty());
    EXPECT_TRUE(write_message(pipe_write, &untouched, MSG_FRAME, nullptr, 0));
}

TEST(Framing, UnknownTypesAndOddSizesAreReadWhole)
{
    Pipe pipe;
    for (auto& part : {frame(4, 200, {9, 9, 9}), frame(6, MSG_KEY, {1, 2, 3, 4, 5}),
                       frame(1, MSG_PING)})
        pipe.bytes.insert(pipe.bytes.end(), part.begin(), part.end());
    const std::uint8_t expected_types[] = {200, MSG_KEY, MSG_PING};
    for (std::uint8_t type : expected_types) {
        Message m;
        ASSERT_TRUE(read_message(pipe_read, &pipe, m));
        EXPECT_EQ(m.type, type);
        free_message(m);
    }
    EXPECT_EQ(pipe.read_at, pipe.bytes.size());
}
