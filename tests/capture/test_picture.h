#pragma once
// A picture to send through JPEG and the measure of what came back, shared by
// the tests of the encoder, the grab and the viewer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// Smooth shading with flat blocks and dark lines, top-down 32-bit pixels
// (blue, green, red, ignored): a fair JPEG subject.
inline std::vector<std::uint8_t> test_picture(int width, int height)
{
    std::vector<std::uint8_t> bits(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bits[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(x * 255 / width);
            p[1] = std::uint8_t(y * 255 / height);
            p[2] = std::uint8_t((x + y) % 256);
            p[3] = 0;
            if ((x / 64 + y / 64) % 5 == 0)
                p[0] = p[1] = p[2] = 240;
            if (y % 97 == 3)
                p[0] = p[1] = p[2] = 20;
        }
    return bits;
}

// How far a decoded picture is from its source: the mean difference of the
// colour bytes, and the share of pixels whose brightness is off by more than
// 32 (colour is sampled at half resolution, so only brightness is held to a
// pixel-level bound). Within JPEG error at quality 70: mean below 4, far
// share below 0.001.
struct Difference {
    double mean = 0;
    double far_share = 0;
};

inline Difference compare(const std::uint8_t* a, int a_stride, const std::uint8_t* b, int b_stride,
                          int width, int height)
{
    auto luma = [](const std::uint8_t* p) { return (29 * p[0] + 150 * p[1] + 77 * p[2]) >> 8; };
    double total = 0;
    long distant = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pa = a + std::size_t(y) * a_stride + std::size_t(x) * 4;
            const std::uint8_t* pb = b + std::size_t(y) * b_stride + std::size_t(x) * 4;
            for (int c = 0; c < 3; ++c)
                total += std::abs(int(pa[c]) - int(pb[c]));
            distant += std::abs(luma(pa) - luma(pb)) > 32;
        }
    const double pixels = double(width) * height;
    return {total / (pixels * 3), double(distant) / pixels};
}
