// Arbitrary bytes as the stream a peer sends: the reader must take whole
// messages or fail, never read past what it was given or leak, and hand back
// exactly the type and payload bytes that the stream holds.
#include <cstdlib>
#include <cstring>

#include "host/password_check.h"
#include "net/framing.h"

namespace {
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

int input_read(void* ctx, std::uint8_t* buffer, int size)
{
    auto* in = static_cast<Input*>(ctx);
    std::size_t n = in->size - in->at;
    if (n > std::size_t(size))
        n = std::size_t(size);
    if (n > 7)
        n = 7;  // odd chunks, like records arriving in pieces
    if (n)
        std::memcpy(buffer, in->data + in->at, n);
    in->at += n;
    return int(n);
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks one of the bounds the agent reads with: before and
    // after authentication. The stream follows it.
    const std::uint32_t max_length = data[0] & 1 ? MAX_AUTH_MSG_LEN : MAX_MSG_LEN;
    Input in{data, size, 1};
    Message m;
    while (read_message(input_read, &in, m, max_length)) {
        // The message just read ends where the reader stopped.
        check(in.at >= 1 + FRAME_HEADER_SIZE + m.size);
        const std::uint8_t* start = data + in.at - m.size - FRAME_HEADER_SIZE;
        check(decode_frame_length(start) == m.size + 1 && m.size + 1 <= max_length);
        check(start[4] == m.type);
        check((m.payload == nullptr) == (m.size == 0));
        check(m.size == 0 || std::memcmp(m.payload, start + FRAME_HEADER_SIZE, m.size) == 0);
        free_message(m);
    }
    check(m.payload == nullptr && m.size == 0);  // a failed read holds nothing
    return 0;
}
