// The agent's own encoder as the Windows build runs it: encode_jpeg_region
// (libjpeg-turbo with its SIMD code, linked into orvane.exe).
#include "bench/capture/bench_encoder.h"
#include "capture/jpeg_tiles.h"

bool start_bench_encoder(BenchEncoder& encoder)
{
    encoder = {"the agent's encode_jpeg_region (libjpeg-turbo, quality 70, 4:2:0)",
               encode_jpeg_region};
    return true;
}
