// Pixel readers: find the rows of a run of MCUs in the bottom-up source
// raster, convert whole row runs to Y, Cb and Cr samples, pad the MCUs that
// reach past the right or bottom edge, and hand each MCU's 8 x 8 sample
// blocks, in coding order, to the transform through the chroma sampler.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

ReadMcu SelectReader(uint16_t bitCount, uint8_t channelOrder) {
    const JpegKernels *k = ActiveKernels();
    const int blueFirst = channelOrder == JPEG_CHANNEL_BLUE_FIRST ? 1 : 0;
    switch (bitCount) {
        case 8: return k->convertGrey;
        case 16: return k->convert555[blueFirst];
        case 24: return k->convert24[blueFirst];
        case 32: return k->convert32[blueFirst];
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
    return sampling <= JPEG_SAMPLING_444 ? ActiveKernels()->sampleChroma[sampling] : nullptr;
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
            // The next run of this row is read after the other rows of the
            // MCU row: ask for it now, as sixteen interleaved short streams
            // defeat the processor's own prefetching. A prefetch past the
            // source does not fault and reads nothing.
            for (uint32_t b = 0; b < valid * ctx->bytesPerPixel; b += 64) __builtin_prefetch(row + valid * ctx->bytesPerPixel + b);
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
