#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "capture/pass_probe.h"
#include "capture/screen_capture.h"

namespace gp = Gdiplus::DllExports;

namespace {

// EncoderQuality, spelled out so no import library has to provide it.
constexpr GUID ENCODER_QUALITY = {0x1d5be4b5, 0xfa4a, 0x452d,
                                  {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};

struct JpegEncoder {
    bool found = false;
    CLSID clsid{};
};

JpegEncoder find_jpeg_encoder()
{
    JpegEncoder result;
    UINT count = 0, bytes = 0;
    if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0)
        return result;
    auto* codecs = static_cast<Gdiplus::ImageCodecInfo*>(std::malloc(bytes));
    if (!codecs)
        return result;
    if (gp::GdipGetImageEncoders(count, bytes, codecs) == Gdiplus::Ok) {
        for (UINT i = 0; i < count; ++i) {
            if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, L"image/jpeg") == 0) {
                result.found = true;
                result.clsid = codecs[i].Clsid;
                break;
            }
        }
    }
    std::free(codecs);
    return result;
}

// Looked up once per process; a missing encoder stays missing.
const JpegEncoder& jpeg_encoder()
{
    static const JpegEncoder encoder = find_jpeg_encoder();
    return encoder;
}

// The bytes the encoder wrote into the stream's memory; false when none.
bool copy_stream_bytes(IStream* stream, std::vector<std::uint8_t>& out)
{
    HGLOBAL memory = nullptr;
    STATSTG stat{};
    if (FAILED(GetHGlobalFromStream(stream, &memory)) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return false;
    // The block may be larger than what was written; only the JPEG goes out.
    const SIZE_T size = stat.cbSize.QuadPart < GlobalSize(memory) ? SIZE_T(stat.cbSize.QuadPart)
                                                                  : GlobalSize(memory);
    const void* data = GlobalLock(memory);
    bool ok = false;
    if (data && size > 0) {
        out.assign(static_cast<const std::uint8_t*>(data),
                   static_cast<const std::uint8_t*>(data) + size);
        ok = true;
    }
    if (data)
        GlobalUnlock(memory);
    return ok;
}

bool save_jpeg(Gdiplus::GpBitmap* bitmap, const CLSID& clsid, std::vector<std::uint8_t>& out)
{
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
        return false;
    LONG quality = JPEG_QUALITY;
    Gdiplus::EncoderParameters params{};
    params.Count = 1;
    params.Parameter[0].Guid = ENCODER_QUALITY;
    params.Parameter[0].NumberOfValues = 1;
    params.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
    params.Parameter[0].Value = &quality;
    const bool ok = gp::GdipSaveImageToStream(bitmap, stream, &clsid, &params) == Gdiplus::Ok &&
                    copy_stream_bytes(stream, out);
    stream->Release();
    return ok;
}

} // namespace

bool encode_jpeg_region(const std::uint8_t* bits, int stride, int x, int y, int width,
                        int height, std::vector<std::uint8_t>& out)
{
    out.clear();
    const JpegEncoder& encoder = jpeg_encoder();
    if (!encoder.found || !bits || width < 1 || height < 1)
        return false;
    // GDI+ only reads the pixels: the bitmap wraps the caller's memory as it is.
    auto* first = const_cast<BYTE*>(bits + std::size_t(stride) * std::size_t(y) +
                                    std::size_t(x) * 4);
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(width, height, stride, PixelFormat32bppRGB, first,
                                      &bitmap) != Gdiplus::Ok)
        return false;
    const bool ok = save_jpeg(bitmap, encoder.clsid, out);
    gp::GdipDisposeImage(bitmap);
    if (!ok)
        out.clear();
    return ok;
}

namespace {

// The JPEG calls of a frame, told apart from the change detection around them.
bool staged_jpeg_region(const std::uint8_t* bits, int stride, int x, int y, int width,
                        int height, std::vector<std::uint8_t>& out)
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
