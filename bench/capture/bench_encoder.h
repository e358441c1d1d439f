#pragma once
// The JPEG encoder a benchmark build measures: libjpeg-turbo on the native
// build as the reference, the agent's own encoder on the Windows build.
#include "capture/frame_encoder.h"

struct BenchEncoder {
    const char* name = "";
    RegionEncoder encode = nullptr;
};

// Prepares the encoder (library start-up, buffers); false when unavailable.
bool start_bench_encoder(BenchEncoder& encoder);
