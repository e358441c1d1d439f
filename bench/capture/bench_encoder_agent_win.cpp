// The agent's own encoder: GDI+ at quality 70.
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "bench/capture/bench_encoder.h"
#include "capture/screen_capture.h"

bool start_bench_encoder(BenchEncoder& encoder)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;  // GDI+ stays up until the process ends
    encoder = {"GDI+ encode_jpeg_region (quality 70)", encode_jpeg_region};
    return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
}
