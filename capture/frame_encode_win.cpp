// encode_frame on the session's grab: the portable change detection with the
// libjpeg-turbo encoder, reading the DIB section's rows where they are.
#include "capture/pass_probe.h"
#include "capture/screen_capture.h"

namespace {

// The JPEG calls of a frame, told apart from the change detection around them.
bool staged_jpeg_region(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                        std::vector<std::uint8_t>& out)
{
    pass_stage_done(PassStage::diff);
    const bool ok = encode_jpeg_region(bits, stride, x, y, width, height, out);
    pass_stage_done(PassStage::jpeg);
    return ok;
}

} // namespace

int encode_frame(CaptureState& state, std::vector<std::uint8_t>& out)
{
    const FramePicture picture{state.bits, state.geometry.area.width, state.geometry.area.height,
                               state.geometry.stride};
    return encode_frame_payload(state.history, picture, staged_jpeg_region, out);
}
