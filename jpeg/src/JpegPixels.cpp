// Pixel readers: find the rows of a run of MCUs in the bottom-up source
// raster, convert whole row runs to Y, Cb and Cr samples, pad the MCUs that
// reach past the right or bottom edge, and hand each MCU's 8 x 8 sample
// blocks, in coding order, to the transform through the chroma sampler.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

namespace {

inline uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// JFIF (BT.601 full-range) weights scaled by 256. The luminance weights sum
// to 256; in each chrominance row the negative weights sum to the positive.
inline void ToYCbCr(int32_t r, int32_t g, int32_t b, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    const int32_t yy = (77 * r + 150 * g + 29 * b + 128) >> 8;
    *y = static_cast<uint8_t>(yy > 255 ? 255 : yy);
    *cb = Clamp255(((128 * b - 43 * r - 85 * g + 128) >> 8) + 128);
    *cr = Clamp255(((128 * r - 107 * g - 21 * b + 128) >> 8) + 128);
}

// 24- and 32-bit pixels: three colour bytes, red or blue first, and for 32
// bits one byte that is not read.
template <int Bytes, bool BlueFirst>
void ConvertRgb(const uint8_t *src, uint32_t pixels, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    for (uint32_t i = 0; i < pixels; ++i, src += Bytes) {
        const int32_t r = BlueFirst ? src[2] : src[0];
        const int32_t g = src[1];
        const int32_t b = BlueFirst ? src[0] : src[2];
        ToYCbCr(r, g, b, y + i, cb + i, cr + i);
    }
}

// 16-bit little-endian 5-5-5 pixels; bit 15 is not read. Each 5-bit field
// becomes an 8-bit component by a left shift of 3.
template <bool BlueFirst>
void Convert555(const uint8_t *src, uint32_t pixels, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    for (uint32_t i = 0; i < pixels; ++i, src += 2) {
        const uint32_t w = static_cast<uint32_t>(src[0]) | (static_cast<uint32_t>(src[1]) << 8);
        const int32_t low = static_cast<int32_t>((w & 0x1F) << 3);
        const int32_t g = static_cast<int32_t>(((w >> 5) & 0x1F) << 3);
        const int32_t high = static_cast<int32_t>(((w >> 10) & 0x1F) << 3);
        ToYCbCr(BlueFirst ? high : low, g, BlueFirst ? low : high, y + i, cb + i, cr + i);
    }
}

}  // namespace

void ConvertGrey(const uint8_t *src, uint32_t pixels, uint8_t *y, uint8_t *, uint8_t *) { memcpy(y, src, pixels); }

ReadMcu SelectReader(uint16_t bitCount, uint8_t channelOrder) {
    const bool blueFirst = channelOrder == JPEG_CHANNEL_BLUE_FIRST;
    switch (bitCount) {
        case 8: return ConvertGrey;
        case 16: return blueFirst ? Convert555<true> : Convert555<false>;
        case 24: return blueFirst ? ConvertRgb<3, true> : ConvertRgb<3, false>;
        case 32: return blueFirst ? ConvertRgb<4, true> : ConvertRgb<4, false>;
        default: return nullptr;
    }
}

// 4:2:0: four luminance blocks from a 16 x 16 plane, then Cb and Cr as the
// truncated mean of each 2 x 2 square.
void SampleChroma420(uint8_t *mcu, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch) {
    for (int k = 0; k < 4; ++k) {
        const uint8_t *src = y + (8 * (k >> 1)) * pitch + 8 * (k & 1);
        for (int i = 0; i < 8; ++i) memcpy(mcu + 64 * k + 8 * i, src + i * pitch, 8);
    }
    const uint8_t *planes[2] = {cb, cr};
    for (int c = 0; c < 2; ++c) {
        uint8_t *dst = mcu + 256 + 64 * c;
        const uint8_t *p = planes[c];
        for (int i = 0; i < 8; ++i) {
            const uint8_t *r0 = p + (2 * i) * pitch;
            const uint8_t *r1 = r0 + pitch;
            for (int j = 0; j < 8; ++j)
                dst[8 * i + j] = static_cast<uint8_t>((r0[2 * j] + r0[2 * j + 1] + r1[2 * j] + r1[2 * j + 1]) >> 2);
        }
    }
}

// 4:2:2: two luminance blocks from a 16 x 8 plane, then Cb and Cr as the
// truncated mean of each horizontal pair.
void SampleChroma422(uint8_t *mcu, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch) {
    for (int i = 0; i < 8; ++i) {
        memcpy(mcu + 8 * i, y + i * pitch, 8);
        memcpy(mcu + 64 + 8 * i, y + i * pitch + 8, 8);
    }
    const uint8_t *planes[2] = {cb, cr};
    for (int c = 0; c < 2; ++c) {
        uint8_t *dst = mcu + 128 + 64 * c;
        for (int i = 0; i < 8; ++i) {
            const uint8_t *r0 = planes[c] + i * pitch;
            for (int j = 0; j < 8; ++j) dst[8 * i + j] = static_cast<uint8_t>((r0[2 * j] + r0[2 * j + 1]) >> 1);
        }
    }
}

// 4:4:4: the three 8 x 8 planes unchanged.
void SampleChroma444(uint8_t *mcu, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch) {
    for (int i = 0; i < 8; ++i) {
        memcpy(mcu + 8 * i, y + i * pitch, 8);
        memcpy(mcu + 64 + 8 * i, cb + i * pitch, 8);
        memcpy(mcu + 128 + 8 * i, cr + i * pitch, 8);
    }
}

SampleChroma SelectSampler(uint8_t sampling) {
    switch (sampling) {
        case JPEG_SAMPLING_420: return SampleChroma420;
        case JPEG_SAMPLING_422: return SampleChroma422;
        case JPEG_SAMPLING_444: return SampleChroma444;
        default: return nullptr;
    }
}

uint32_t ReadMcuRun(JpegEncodeContext *ctx, uint32_t mcuRow, uint32_t firstColumn, uint32_t count,
                    McuStrip *strip) {
    const uint32_t mcuW = ctx->mcuWidth, mcuH = ctx->mcuHeight;
    const uint64_t bpp = ctx->bytesPerPixel;
    const uint64_t limit = ctx->source->limit;
    // Rows from the MCU row's top edge to the bottom of the image; the top
    // row lies highest in memory (the raster is stored bottom-up).
    const uint32_t rowsLeft = ctx->height - mcuRow * mcuH;
    const uint64_t topRow = ctx->srcOrigin + static_cast<uint64_t>(rowsLeft - 1) * ctx->rowStride;

    // Every row of an MCU lies at or below its top row, so an MCU is readable
    // exactly when the valid part of its top row ends within the source.
    uint32_t readable = count;
    {
        const uint64_t lastEnd = static_cast<uint64_t>(firstColumn + count) * mcuW;
        const uint64_t end = topRow + (lastEnd < ctx->width ? lastEnd : ctx->width) * bpp;
        if (end > limit) {
            for (readable = 0; readable < count; ++readable) {
                const uint64_t x0 = static_cast<uint64_t>(firstColumn + readable) * mcuW;
                const uint64_t x1 = x0 + mcuW < ctx->width ? x0 + mcuW : ctx->width;
                if (topRow + x1 * bpp > limit) {
                    // A grey row that starts at or beyond the end fails
                    // without a stream code of its own.
                    if (ctx->componentCount != 1 || topRow + x0 * bpp < limit) *ctx->status |= JPEG_ERR_STREAM;
                    break;
                }
            }
        }
    }
    if (readable == 0) return 0;

    const uint32_t x0 = firstColumn * mcuW;
    const uint32_t runEnd = (firstColumn + readable) * mcuW;
    const uint32_t valid = (runEnd < ctx->width ? runEnd : ctx->width) - x0;
    const uint32_t padded = readable * mcuW;
    const bool colour = ctx->componentCount == 3;
    uint8_t *planes[3] = {strip->y, strip->cb, strip->cr};
    const int planeCount = colour ? 3 : 1;

    const uint8_t *row = ctx->source->base + topRow + static_cast<uint64_t>(x0) * bpp;
    for (uint32_t i = 0; i < mcuH; ++i) {
        const uint32_t at = i * kStripWidth;
        if (i < rowsLeft) {
            ctx->readMcu(row, valid, strip->y + at, strip->cb + at, strip->cr + at);
            for (int p = 0; p < planeCount; ++p)
                if (padded > valid) memset(planes[p] + at + valid, planes[p][at + valid - 1], padded - valid);
            ctx->source->position = static_cast<uint32_t>(row - ctx->source->base) + valid * ctx->bytesPerPixel;
            if (i + 1 < rowsLeft) row -= ctx->rowStride;
        } else {
            for (int p = 0; p < planeCount; ++p) memcpy(planes[p] + at, planes[p] + at - kStripWidth, padded);
        }
    }
    return readable;
}

}  // namespace jpegcodec
