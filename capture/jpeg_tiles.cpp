#include "capture/jpeg_tiles.h"

#include <turbojpeg.h>

#include <climits>
#include <cstddef>
#include <new>

#include "capture/frame_encoder.h"

namespace {

struct Compressor {
    tjhandle handle = tjInitCompress();
    unsigned char* buffer = nullptr;  // tjAlloc'ed, grown to the largest rectangle yet
    unsigned long capacity = 0;

    Compressor() = default;
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    ~Compressor()
    {
        tjFree(buffer);
        if (handle)
            tjDestroy(handle);
    }

    // A call that fails inside the library can leave the handle stuck half-way.
    void renew()
    {
        if (handle)
            tjDestroy(handle);
        handle = tjInitCompress();
    }

    // Room for the worst case of a width x height image, so the library never
    // reallocates behind our back.
    bool reserve(int width, int height)
    {
        const unsigned long needed = tjBufSize(width, height, TJSAMP_420);
        if (needed == static_cast<unsigned long>(-1) || needed > INT_MAX)
            return false;
        if (needed <= capacity)
            return true;
        tjFree(buffer);
        buffer = tjAlloc(int(needed));
        capacity = buffer ? needed : 0;
        return buffer != nullptr;
    }
};

// A plain pointer: thread-local objects with destructors crash on MinGW.
thread_local Compressor* compressor = nullptr;

} // namespace

bool encode_jpeg_region(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                        std::vector<std::uint8_t>& out)
{
    out.clear();
    if (!bits || x < 0 || y < 0 || width < 1 || height < 1 || stride < (x + width) * 4)
        return false;
    if (!compressor)
        compressor = new (std::nothrow) Compressor;
    if (!compressor || !compressor->handle || !compressor->reserve(width, height))
        return false;
    Compressor& c = *compressor;
    const unsigned char* first = bits + std::size_t(stride) * std::size_t(y) + std::size_t(x) * 4;
    unsigned char* jpeg = c.buffer;
    unsigned long size = c.capacity;
    if (tjCompress2(c.handle, first, width, stride, height, TJPF_BGRX, &jpeg, &size, TJSAMP_420,
                    JPEG_QUALITY, TJFLAG_NOREALLOC) != 0) {
        c.renew();
        return false;
    }
    try {
        out.assign(jpeg, jpeg + size);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

void release_jpeg_encoder()
{
    delete compressor;
    compressor = nullptr;
}
