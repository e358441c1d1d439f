// Arbitrary bytes as the stream a peer sends: the reader must take whole
// messages or fail, never read past what it was given or leak.
#include <cstring>

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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size, 0};
    // Bounded like the pre-authentication read so large lengths stay cheap.
    const std::uint32_t max_length = size > 0 && (data[0] & 1) ? 4097 : 1 << 20;
    Message m;
    while (read_message(input_read, &in, m, max_length)) {
        if (m.size && m.payload[m.size - 1] == 0xA5)
            m.payload[0] ^= 1;  // touch both ends of the payload
        free_message(m);
    }
    return 0;
}
