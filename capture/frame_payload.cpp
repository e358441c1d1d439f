#include "capture/frame_payload.h"

bool begin_frame(FrameReader& reader, const std::uint8_t* data, std::size_t size,
                 FrameHeader& header)
{
    reader = FrameReader{};
    header = FrameHeader{};
    LeReader fields(data, size);
    if (!fields.read_u16(header.width) || !fields.read_u16(header.height) ||
        !fields.read_u16(header.count) || header.width == 0 || header.height == 0 ||
        header.count == 0) {
        header = FrameHeader{};
        return false;
    }
    static_cast<LeReader&>(reader) = fields;
    reader.count = header.count;
    return true;
}

bool next_frame_tile(FrameReader& reader, FrameTileView& tile)
{
    if (reader.seen >= reader.count)
        return false;
    LeReader fields = reader;  // moved on only when the whole tile is there
    FrameTileView next;
    if (!fields.read_u16(next.x) || !fields.read_u16(next.y) || !fields.read_u16(next.w) ||
        !fields.read_u16(next.h) || !fields.read_u32(next.size) || next.size == 0 ||
        !fields.read_bytes(next.size, next.jpeg))
        return false;
    tile = next;
    static_cast<LeReader&>(reader) = fields;
    ++reader.seen;
    return true;
}
