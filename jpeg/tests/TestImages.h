// Rasters for the encoder tests: bottom-up, rows padded to four bytes, with
// smooth photographic-like content so that decoded quality is meaningful.
#ifndef JPEGCODEC_TEST_IMAGES_H
#define JPEGCODEC_TEST_IMAGES_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jpegcodec.h"

namespace jpegtest {

inline uint32_t Stride(uint32_t width, uint32_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }

// One RGB pixel of a test scene at (x, y), y = 0 the top row.
struct Rgb {
    uint8_t r, g, b;
};

inline Rgb ScenePixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t variant) {
    // Gradients plus a soft ring plus a little deterministic noise.
    const uint32_t n = (x * 73856093u) ^ (y * 19349663u) ^ (variant * 83492791u);
    const int noise = static_cast<int>((n >> 13) % 9) - 4;
    const int dx = static_cast<int>(x) - static_cast<int>(w / 2), dy = static_cast<int>(y) - static_cast<int>(h / 2);
    const int ring = ((dx * dx + dy * dy) / 8) % 64;
    auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return {clamp(static_cast<int>(255 * x / (w > 1 ? w - 1 : 1)) / 2 + ring + noise + static_cast<int>(variant % 32)),
            clamp(static_cast<int>(255 * y / (h > 1 ? h - 1 : 1)) * 3 / 4 + noise + 20),
            clamp(200 - ring * 2 + noise)};
}

struct Raster {
    uint32_t width = 0, height = 0;
    uint16_t bitCount = 0;
    uint8_t channelOrder = 0;
    std::vector<uint8_t> data;       // bottom-up, padded rows
    std::vector<uint8_t> reference;  // top-down RGB (or grey) the decoder should approach

    JpegEncodeParams Params(uint8_t quality, uint8_t sampling) const {
        JpegEncodeParams p;
        std::memset(&p, 0, sizeof p);
        p.srcBuffer = data.data();
        p.srcSize = static_cast<uint32_t>(data.size());
        p.width = width;
        p.height = height;
        p.bitCount = bitCount;
        p.quality = quality;
        p.sampling = sampling;
        p.channelOrder = channelOrder;
        return p;
    }
};

// Builds a raster of the given format; `channelOrder` 1 is blue first.
inline Raster MakeRaster(uint32_t w, uint32_t h, uint16_t bitCount, uint8_t channelOrder, uint32_t variant = 1) {
    Raster r;
    r.width = w;
    r.height = h;
    r.bitCount = bitCount;
    r.channelOrder = channelOrder;
    const uint32_t stride = Stride(w, bitCount);
    r.data.assign(static_cast<size_t>(stride) * h, 0xA5);  // padding bytes are never read
    const uint32_t channels = bitCount == 8 ? 1 : 3;
    r.reference.resize(static_cast<size_t>(w) * h * channels);
    const bool blueFirst = channelOrder == 1;
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = r.data.data() + static_cast<size_t>(h - 1 - y) * stride;
        for (uint32_t x = 0; x < w; ++x) {
            Rgb c = ScenePixel(x, y, w, h, variant);
            uint8_t *ref = r.reference.data() + (static_cast<size_t>(y) * w + x) * channels;
            switch (bitCount) {
                case 8:
                    row[x] = c.g;
                    ref[0] = c.g;
                    break;
                case 16: {
                    const uint32_t r5 = c.r >> 3, g5 = c.g >> 3, b5 = c.b >> 3;
                    const uint32_t word = blueFirst ? (b5 | (g5 << 5) | (r5 << 10)) : (r5 | (g5 << 5) | (b5 << 10));
                    row[2 * x] = static_cast<uint8_t>(word);
                    row[2 * x + 1] = static_cast<uint8_t>((word >> 8) | ((x & 1) << 7));  // bit 15 is not read
                    ref[0] = static_cast<uint8_t>(r5 << 3);
                    ref[1] = static_cast<uint8_t>(g5 << 3);
                    ref[2] = static_cast<uint8_t>(b5 << 3);
                    break;
                }
                default: {
                    const uint32_t b = bitCount / 8;
                    uint8_t *px = row + b * x;
                    px[0] = blueFirst ? c.b : c.r;
                    px[1] = c.g;
                    px[2] = blueFirst ? c.r : c.b;
                    if (b == 4) px[3] = static_cast<uint8_t>(x * 7);  // not read
                    ref[0] = c.r;
                    ref[1] = c.g;
                    ref[2] = c.b;
                    break;
                }
            }
        }
    }
    return r;
}

// Runs both passes; returns the written stream, or an empty one on failure.
inline std::vector<uint8_t> Encode(const Raster &r, uint8_t quality, uint8_t sampling, uint16_t *sizeStatus = nullptr,
                                   uint16_t *writeStatus = nullptr, uint32_t *sizedLength = nullptr) {
    JpegEncodeParams p = r.Params(quality, sampling);
    p.dstSize = 0xDEADBEEF;
    const uint16_t s1 = Jpeg_EncodeStart(&p, JPEG_PASS_SIZE);
    if (sizeStatus) *sizeStatus = s1;
    if (sizedLength) *sizedLength = p.dstSize;
    if (s1 != 0) return {};
    std::vector<uint8_t> out(p.dstSize);
    p.dstBuffer = out.data();
    const uint16_t s2 = Jpeg_EncodeStart(&p, JPEG_PASS_WRITE);
    if (writeStatus) *writeStatus = s2;
    if (s2 != 0) return {};
    out.resize(p.dstSize);
    return out;
}

// The segments of a stream up to the scan, the entropy-coded data and what
// follows it.
struct Segment {
    uint8_t marker;
    std::vector<uint8_t> payload;  // without marker and length
};

struct ParsedJpeg {
    bool ok = false;
    std::vector<Segment> segments;  // SOI first (empty payload) ... SOS
    std::vector<uint8_t> entropy;
    std::vector<uint8_t> trailer;  // bytes after the entropy data (EOI)
};

inline ParsedJpeg Parse(const std::vector<uint8_t> &s) {
    ParsedJpeg out;
    if (s.size() < 4 || s[0] != 0xFF || s[1] != 0xD8) return out;
    out.segments.push_back({0xD8, {}});
    size_t i = 2;
    while (i + 4 <= s.size()) {
        if (s[i] != 0xFF) return out;
        const uint8_t marker = s[i + 1];
        const size_t len = (static_cast<size_t>(s[i + 2]) << 8) | s[i + 3];
        if (len < 2 || i + 2 + len > s.size()) return out;
        out.segments.push_back({marker, std::vector<uint8_t>(s.begin() + i + 4, s.begin() + i + 2 + len)});
        i += 2 + len;
        if (marker == 0xDA) break;
    }
    if (out.segments.back().marker != 0xDA) return out;
    size_t j = i;
    while (j + 1 < s.size() && !(s[j] == 0xFF && s[j + 1] != 0x00)) ++j;
    if (j + 1 >= s.size()) return out;
    out.entropy.assign(s.begin() + i, s.begin() + j);
    out.trailer.assign(s.begin() + j, s.end());
    out.ok = true;
    return out;
}

}  // namespace jpegtest

#endif
