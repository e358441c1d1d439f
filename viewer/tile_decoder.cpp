#include "viewer/tile_decoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct Decompressor {
    tjhandle handle = tjInitDecompress();

    Decompressor() = default;
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    ~Decompressor()
    {
        if (handle)
            tjDestroy(handle);
    }

    // A stream that fails inside the library can leave the handle stuck
    // half-way, refusing every later tile; a damaged tile costs a new one.
    void renew()
    {
        if (handle)
            tjDestroy(handle);
        handle = tjInitDecompress();
    }
};

// A plain pointer: thread-local objects with destructors crash on MinGW.
thread_local Decompressor* decompressor = nullptr;

// Progressive streams of a great many scans cost time out of all proportion.
constexpr int DECODE_FLAGS = TJFLAG_LIMITSCANS;

// Decodes the whole image into `target`; false when the decoder failed (a
// warning about damaged data still leaves a picture).
bool decoded(tjhandle handle, const FrameTileView& tile, std::uint8_t* target, int width, int pitch,
             int height)
{
    return tjDecompress2(handle, tile.jpeg, tile.size, target, width, pitch, height, TJPF_BGRX,
                         DECODE_FLAGS) == 0 ||
           tjGetErrorCode(handle) == TJERR_WARNING;
}

// An image larger than what it may cover: decoded aside, then the visible
// part copied.
bool decode_cut(tjhandle handle, const FrameTileView& tile, int image_width, int image_height,
                std::uint8_t* target, int pitch, int width, int height)
{
    if (std::uint64_t(image_width) * std::uint64_t(image_height) > MAX_TILE_IMAGE_PIXELS)
        return false;
    const std::size_t row = std::size_t(image_width) * 4;
    std::unique_ptr<std::uint8_t[]> image(new (std::nothrow)
                                              std::uint8_t[row * std::size_t(image_height)]);
    if (!image)
        return false;
    if (!decoded(handle, tile, image.get(), image_width, int(row), image_height))
        return false;
    for (int r = 0; r < height; ++r)
        std::memcpy(target + std::ptrdiff_t(pitch) * r, image.get() + row * std::size_t(r),
                    std::size_t(width) * 4);
    return true;
}

bool paint(tjhandle handle, const FrameTileView& tile, const CanvasPixels& canvas)
{
    int image_width = 0, image_height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle, tile.jpeg, tile.size, &image_width, &image_height, &subsampling,
                            &colourspace) != 0)
        return false;
    const int width = std::min({int(tile.w), image_width, canvas.width - int(tile.x)});
    const int height = std::min({int(tile.h), image_height, canvas.height - int(tile.y)});
    if (width <= 0 || height <= 0)
        return false;
    const int pitch = canvas.width * 4;
    std::uint8_t* target =
        canvas.bits + std::size_t(tile.y) * std::size_t(pitch) + std::size_t(tile.x) * 4;
    if (width == image_width && height == image_height)
        return decoded(handle, tile, target, width, pitch, height);
    return decode_cut(handle, tile, image_width, image_height, target, pitch, width, height);
}

} // namespace

bool paint_jpeg_tile(const FrameTileView& tile, const CanvasPixels& canvas)
{
    if (!canvas.bits || !tile.jpeg || tile.size == 0)
        return false;
    if (!decompressor)
        decompressor = new (std::nothrow) Decompressor;
    if (!decompressor || !decompressor->handle)
        return false;
    Decompressor& d = *decompressor;
    const bool painted = paint(d.handle, tile, canvas);
    if (!painted)
        d.renew();
    return painted;
}

void release_tile_decoder()
{
    delete decompressor;
    decompressor = nullptr;
}
