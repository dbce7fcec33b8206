// The rasters the Windows test program and its Linux counterpart both
// encode: every format and channel order, every sampling, qualities across
// the range, odd sizes with row padding. Plain C++ without the standard
// library so that both sides build it alike.
#ifndef JPEGCODEC_TEST_RASTERS_H
#define JPEGCODEC_TEST_RASTERS_H

#include <stdint.h>
#include <string.h>

#include "jpegcodec.h"

namespace jpegcases {

struct Case {
    uint32_t width, height;
    uint16_t bitCount;
    uint8_t channelOrder, sampling, quality;
};

inline constexpr Case kCases[] = {
    {1, 1, 8, 0, 0, 75},       {17, 9, 8, 1, 2, 1},        {33, 47, 8, 0, 1, 100},    {255, 31, 8, 0, 0, 50},
    {1, 1, 24, 0, 0, 75},      {17, 9, 24, 1, 0, 90},      {33, 47, 24, 0, 1, 30},    {101, 67, 24, 1, 2, 100},
    {17, 9, 32, 0, 0, 49},     {33, 47, 32, 1, 1, 75},     {64, 64, 32, 0, 2, 10},    {3, 5, 32, 1, 0, 99},
    {17, 9, 16, 0, 0, 75},     {33, 47, 16, 1, 1, 60},     {129, 3, 16, 0, 2, 85},    {7, 300, 16, 1, 0, 20},
    {400, 300, 24, 1, 0, 75},  {400, 300, 24, 1, 1, 50},   {400, 300, 24, 1, 2, 90},  {400, 300, 8, 0, 0, 75},
};
inline constexpr int kCaseCount = sizeof(kCases) / sizeof(kCases[0]);

inline uint32_t Stride(uint32_t width, uint32_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }
inline uint32_t RasterSize(const Case &c) { return Stride(c.width, c.bitCount) * c.height; }

// Fills the bottom-up raster of a case: gradients, a ring and some noise.
inline void FillRaster(const Case &c, uint8_t *data) {
    const uint32_t stride = Stride(c.width, c.bitCount), b = c.bitCount / 8;
    memset(data, 0x5C, RasterSize(c));
    for (uint32_t y = 0; y < c.height; ++y) {
        uint8_t *row = data + (c.height - 1 - y) * stride;
        for (uint32_t x = 0; x < c.width; ++x) {
            const uint32_t n = (x * 2654435761u) ^ (y * 40503u) ^ (c.quality * 977u);
            const int32_t dx = static_cast<int32_t>(x) - static_cast<int32_t>(c.width / 3);
            const int32_t dy = static_cast<int32_t>(y) - static_cast<int32_t>(c.height / 2);
            const uint32_t ring = static_cast<uint32_t>((dx * dx + dy * dy) / 16) % 96;
            for (uint32_t k = 0; k < b; ++k)
                row[x * b + k] = static_cast<uint8_t>(x * (k + 1) * 3 + y * (3 - k) + ring + ((n >> (8 + k)) & 15));
        }
    }
}

inline JpegEncodeParams Params(const Case &c, const uint8_t *data) {
    JpegEncodeParams p;
    memset(&p, 0, sizeof p);
    p.srcBuffer = data;
    p.srcSize = RasterSize(c);
    p.width = c.width;
    p.height = c.height;
    p.bitCount = c.bitCount;
    p.quality = c.quality;
    p.sampling = c.sampling;
    p.channelOrder = c.channelOrder;
    return p;
}

}  // namespace jpegcases

#endif
