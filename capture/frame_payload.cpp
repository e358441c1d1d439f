#include "capture/frame_payload.h"

void append_u16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(std::uint8_t(value));
    out.push_back(std::uint8_t(value >> 8));
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    append_u16(out, value & 0xFFFF);
    append_u16(out, value >> 16);
}

void put_u16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = std::uint8_t(value);
    at[1] = std::uint8_t(value >> 8);
}

std::uint16_t get_u16(const std::uint8_t* at)
{
    return std::uint16_t(at[0] | at[1] << 8);
}

std::uint32_t get_u32(const std::uint8_t* at)
{
    return std::uint32_t(get_u16(at)) | std::uint32_t(get_u16(at + 2)) << 16;
}

bool begin_frame(FrameReader& reader, const std::uint8_t* data, std::size_t size,
                 FrameHeader& header)
{
    reader = FrameReader{};
    header = FrameHeader{};
    if (!data || size < FRAME_PAYLOAD_HEADER_SIZE)
        return false;
    header.width = get_u16(data);
    header.height = get_u16(data + 2);
    header.count = get_u16(data + 4);
    if (header.width == 0 || header.height == 0 || header.count == 0)
        return false;
    reader.data = data;
    reader.size = size;
    reader.position = FRAME_PAYLOAD_HEADER_SIZE;
    reader.count = header.count;
    return true;
}

bool next_frame_tile(FrameReader& reader, FrameTileView& tile)
{
    if (reader.seen >= reader.count || reader.position > reader.size)
        return false;
    const std::size_t left = reader.size - reader.position;
    if (left < FRAME_TILE_HEADER_SIZE)
        return false;
    const std::uint8_t* at = reader.data + reader.position;
    const std::uint32_t size = get_u32(at + 8);
    // Compared against what is left, so no sum can wrap.
    if (size == 0 || size > left - FRAME_TILE_HEADER_SIZE)
        return false;
    tile.x = get_u16(at);
    tile.y = get_u16(at + 2);
    tile.w = get_u16(at + 4);
    tile.h = get_u16(at + 6);
    tile.jpeg = at + FRAME_TILE_HEADER_SIZE;
    tile.size = size;
    reader.position += FRAME_TILE_HEADER_SIZE + size;
    ++reader.seen;
    return true;
}
