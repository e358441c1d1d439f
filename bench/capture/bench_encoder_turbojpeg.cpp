// libjpeg-turbo at the agent's settings: quality 70, 4:2:0, from BGRX rows.
#include <turbojpeg.h>

#include "bench/capture/bench_encoder.h"

namespace {

tjhandle compressor = nullptr;
std::vector<unsigned char> scratch;  // room for the largest rectangle, made once

bool encode_turbojpeg(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                      std::vector<std::uint8_t>& out)
{
    out.clear();
    const unsigned long room = tjBufSize(width, height, TJSAMP_420);
    if (scratch.size() < room)
        scratch.resize(room);
    unsigned char* jpeg = scratch.data();
    unsigned long size = scratch.size();
    const unsigned char* first = bits + std::size_t(stride) * y + std::size_t(x) * 4;
    if (tjCompress2(compressor, first, width, stride, height, TJPF_BGRX, &jpeg, &size,
                    TJSAMP_420, JPEG_QUALITY, TJFLAG_NOREALLOC) != 0)
        return false;
    out.assign(jpeg, jpeg + size);
    return true;
}

} // namespace

bool start_bench_encoder(BenchEncoder& encoder)
{
    compressor = tjInitCompress();
    encoder = {"libjpeg-turbo tjCompress2 (quality 70, 4:2:0)", encode_turbojpeg};
    return compressor != nullptr;
}
