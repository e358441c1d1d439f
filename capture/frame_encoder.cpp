#include "capture/frame_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "capture/frame_payload.h"

namespace {

std::size_t pixel_offset(const FramePicture& picture, int x, int y)
{
    return std::size_t(y) * std::size_t(picture.stride) + std::size_t(x) * 4;
}

void mark_changed_tiles(FrameHistory& history, const FramePicture& picture, int y0, int rows)
{
    const int columns = int(history.changed.size());
    for (int j = 0; j < columns; ++j) {
        const int x0 = j * TILE_SIZE;
        const int tile_width = std::min(TILE_SIZE, picture.width - x0);
        history.changed[j] = !history.previous_valid ||
                             tile_changed(picture, history.previous_frame.data(), x0, y0,
                                          tile_width, rows);
    }
}

void remember_rows(FrameHistory& history, const FramePicture& picture, int x, int y, int width,
                   int rows)
{
    for (int r = 0; r < rows; ++r) {
        const std::size_t at = pixel_offset(picture, x, y + r);
        std::memcpy(history.previous_frame.data() + at, picture.bits + at, std::size_t(width) * 4);
    }
}

void append_tile(std::vector<std::uint8_t>& payload, int x, int y, int width, int height,
                 const std::vector<std::uint8_t>& jpeg)
{
    append_le16(payload, std::uint16_t(x));
    append_le16(payload, std::uint16_t(y));
    append_le16(payload, std::uint16_t(width));
    append_le16(payload, std::uint16_t(height));
    append_le32(payload, std::uint32_t(jpeg.size()));
    payload.insert(payload.end(), jpeg.begin(), jpeg.end());
}

// Encodes the changed runs of one row of tiles; false when one was left out.
bool encode_tile_row(FrameHistory& history, const FramePicture& picture, int y0, int rows,
                     RegionEncoder encode, std::vector<std::uint8_t>& payload, int& count)
{
    bool all_sent = true;
    const int columns = int(history.changed.size());
    for (int pos = 0; pos < columns;) {
        if (!history.changed[pos]) {
            ++pos;
            continue;
        }
        int end = pos;
        while (end + 1 < columns && history.changed[end + 1])
            ++end;
        const int x = pos * TILE_SIZE;
        const int width = std::min(picture.width, (end + 1) * TILE_SIZE) - x;
        // Past the 16-bit count a run waits for the next frame, like a failed one.
        if (count < MAX_FRAME_TILES &&
            encode(picture.bits, picture.stride, x, y0, width, rows, history.jpeg) &&
            !history.jpeg.empty() && history.jpeg.size() <= UINT32_MAX) {
            append_tile(payload, x, y0, width, rows, history.jpeg);
            remember_rows(history, picture, x, y0, width, rows);
            ++count;
        } else {
            all_sent = false;
        }
        pos = end + 1;
    }
    return all_sent;
}

} // namespace

bool tile_changed(const FramePicture& picture, const std::uint8_t* previous, int x0, int y0,
                  int tile_width, int rows)
{
    const std::size_t bytes = std::size_t(tile_width) * 4;
    for (int r = 0; r < rows; ++r) {
        const std::size_t at = pixel_offset(picture, x0, y0 + r);
        if (std::memcmp(picture.bits + at, previous + at, bytes) != 0)
            return true;
    }
    return false;
}

int encode_frame_payload(FrameHistory& history, const FramePicture& picture,
                         RegionEncoder encode, std::vector<std::uint8_t>& payload)
{
    payload.clear();
    append_le16(payload, std::uint16_t(picture.width));
    append_le16(payload, std::uint16_t(picture.height));
    append_le16(payload, 0);
    if (!picture.bits || picture.width < 1 || picture.height < 1 ||
        picture.stride < picture.width * 4)
        return 0;
    const std::size_t frame_bytes = std::size_t(picture.stride) * std::size_t(picture.height);
    if (history.previous_frame.size() != frame_bytes) {
        // Only after a size change that bypassed the area refresh.
        history.previous_valid = false;
        try {
            history.previous_frame.assign(frame_bytes, 0);
        } catch (const std::bad_alloc&) {
            history.previous_frame.clear();
            return 0;
        }
    }
    history.changed.resize(std::size_t((picture.width + TILE_SIZE - 1) / TILE_SIZE));

    int count = 0;
    bool all_sent = true;
    for (int y0 = 0; y0 < picture.height; y0 += TILE_SIZE) {
        const int rows = std::min(TILE_SIZE, picture.height - y0);
        mark_changed_tiles(history, picture, y0, rows);
        all_sent = encode_tile_row(history, picture, y0, rows, encode, payload, count) && all_sent;
    }
    // A complete frame with a rectangle left out stays incomplete: what the
    // viewer shows there is not what previous_frame holds, so comparing
    // against it could hide the missing pixels for good.
    history.previous_valid = history.previous_valid || all_sent;
    put_le16(payload.data() + 4, std::uint16_t(count));
    return count;
}
