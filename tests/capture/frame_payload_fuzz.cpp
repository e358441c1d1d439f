// Arbitrary bytes as a MSG_FRAME payload from a peer: the reader must hand out
// only tiles that lie wholly inside the payload, never more than announced.
#include <cstdlib>

#include "capture/frame_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FrameReader reader;
    FrameHeader header;
    if (!begin_frame(reader, data, size, header))
        return 0;
    FrameTileView tile;
    unsigned tiles = 0;
    volatile std::uint8_t sink = 0;
    while (next_frame_tile(reader, tile)) {
        if (++tiles > header.count || tile.jpeg < data || tile.size == 0 ||
            tile.size > std::size_t(data + size - tile.jpeg))
            std::abort();
        // Touch both ends so the sanitizer sees any read outside the input.
        sink = sink + tile.jpeg[0] + tile.jpeg[tile.size - 1] + tile.jpeg[-1];
    }
    if (reader.position > size)
        std::abort();
    return 0;
}
