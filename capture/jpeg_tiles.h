#pragma once
// One rectangle of a grabbed picture as a JPEG file, through libjpeg-turbo:
// baseline, quality JPEG_QUALITY, 4:2:0, read straight from the 32-bit rows
// (blue, green, red, ignored) with no copy of the pixels.
#include <cstdint>
#include <vector>

// Compresses the width x height rectangle at (x, y) of a top-down buffer of
// `stride` bytes a row into `out`, replacing what it held: exactly the JPEG
// file, start-of-image to end-of-image. False, with `out` empty, when the
// rectangle is empty or the encoder fails. The calling thread keeps one
// compressor and its output buffer from call to call, so a steady stream of
// frames allocates nothing once the largest rectangle has been seen.
bool encode_jpeg_region(const std::uint8_t* bits, int stride, int x, int y, int width, int height,
                        std::vector<std::uint8_t>& out);

// Frees the calling thread's compressor; the next call makes a new one. A
// thread that has encoded calls it before it ends (what a thread keeps cannot
// be freed as it exits on every platform: MinGW's thread-local storage is
// gone before the destructors that would read it run).
void release_jpeg_encoder();
