// Pixel readers: colour conversion of each format, chroma sampling, and the
// padding of MCUs that reach past the right or bottom edge.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "JpegInternal.h"

using namespace jpegcodec;

namespace {

struct Ycc {
    uint8_t y, cb, cr;
};

Ycc Convert(uint16_t bitCount, uint8_t order, std::vector<uint8_t> pixel) {
    Ycc out{};
    SelectReader(bitCount, order)(pixel.data(), 1, &out.y, &out.cb, &out.cr);
    return out;
}

void ExpectYcc(Ycc got, int y, int cb, int cr, const char *what) {
    EXPECT_EQ(got.y, y) << what;
    EXPECT_EQ(got.cb, cb) << what;
    EXPECT_EQ(got.cr, cr) << what;
}

TEST(Pixels, ColourConversionOfKnownColours) {
    ExpectYcc(Convert(24, 0, {255, 255, 255}), 255, 128, 128, "white");
    ExpectYcc(Convert(24, 0, {0, 0, 0}), 0, 128, 128, "black");
    ExpectYcc(Convert(24, 0, {0, 0, 255}), 29, 255, 107, "blue clamps Cb");
    ExpectYcc(Convert(24, 0, {255, 0, 0}), 77, 85, 255, "red clamps Cr");
    ExpectYcc(Convert(24, 1, {255, 0, 0}), 29, 255, 107, "blue first");
    ExpectYcc(Convert(32, 1, {0, 0, 255, 99}), 77, 85, 255, "32-bit blue first, fourth byte ignored");
    ExpectYcc(Convert(32, 0, {0, 255, 0, 0}), 149, 43, 21, "green");
    // 5-5-5: 0x001F is red in the red-first order (R = 248), blue otherwise;
    // worked with the weights 77, 150, 29 / 256 (Y), -43, -85, 128 (Cb) and
    // 128, -107, -21 (Cr), rounded by adding 128 and shifting down (floor):
    // Y = 19224 >> 8 = 75, Cb = (-10536 >> 8) + 128 = 86, Cr = (31872 >> 8)
    // + 128 = 252; for blue Y = 7320 >> 8 = 28, Cb = 252, Cr = (-5080 >> 8)
    // + 128 = 108.
    ExpectYcc(Convert(16, 0, {0x1F, 0x00}), 75, 86, 252, "red 5-5-5");
    ExpectYcc(Convert(16, 1, {0x1F, 0x80}), 28, 252, 108, "blue 5-5-5, bit 15 not read");
    ExpectYcc(Convert(16, 0, {0xFF, 0x7F}), 248, 128, 128, "white 5-5-5 has no bit replication");
}

TEST(Pixels, SamplersTruncateTheMeans) {
    uint8_t y[16 * 16], cb[16 * 16], cr[16 * 16], mcu[512];
    for (int i = 0; i < 256; ++i) y[i] = static_cast<uint8_t>(i);
    memset(cb, 1, sizeof cb);
    memset(cr, 200, sizeof cr);
    cb[0] = cb[1] = cb[16] = 1;
    cb[17] = 2;  // 1, 1, 1, 2 averages to 1
    cr[0] = 3;   // 3, 200, 200, 200 -> 150 (603 / 4 = 150.75)
    SampleChroma420(mcu, y, cb, cr, 16);
    EXPECT_EQ(mcu[64 * 0 + 0], 0);
    EXPECT_EQ(mcu[64 * 1 + 0], 8);         // top right block starts at column 8
    EXPECT_EQ(mcu[64 * 2 + 0], 128);       // bottom left starts at row 8
    EXPECT_EQ(mcu[64 * 3 + 63], 255);
    EXPECT_EQ(mcu[256], 1);
    EXPECT_EQ(mcu[320], 150);
    EXPECT_EQ(mcu[321], 200);

    SampleChroma422(mcu, y, cb, cr, 16);
    EXPECT_EQ(mcu[64 + 8 * 7 + 7], 7 * 16 + 15);
    EXPECT_EQ(mcu[128 + 8], 1);   // row 1: (1 + 2) >> 1
    EXPECT_EQ(mcu[192], 101);     // (3 + 200) >> 1

    SampleChroma444(mcu, y, cb, cr, 16);
    EXPECT_EQ(mcu[9], 17);
    EXPECT_EQ(mcu[64 + 9], 2);
    EXPECT_EQ(mcu[128], 3);
}

// A context over a 24-bit or grey source for ReadMcuRun.
struct Reader {
    uint16_t status = JPEG_STATUS_BASE;
    std::vector<uint8_t> src;
    JpegStream source;
    JpegEncodeContext ctx;
    McuStrip strip;

    Reader(uint32_t w, uint32_t h, uint16_t bits, uint8_t mcuW, uint8_t mcuH) {
        const uint32_t stride = ((w * bits + 31) / 32) * 4, b = bits / 8;
        src.assign(static_cast<size_t>(stride) * h, 0);
        // Pixel (x, y), y = 0 the top row: grey level x + 16 y.
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (uint32_t c = 0; c < b; ++c) src[(h - 1 - y) * stride + x * b + c] = static_cast<uint8_t>(x + 16 * y);
        MakeMemoryStream(&source, src.data(), nullptr, static_cast<uint32_t>(src.size()), &status);
        memset(&ctx, 0, sizeof ctx);
        ctx.componentCount = bits == 8 ? 1 : 3;
        ctx.width = w;
        ctx.height = h;
        ctx.mcuWidth = mcuW;
        ctx.mcuHeight = mcuH;
        ctx.rowStride = stride;
        ctx.bytesPerPixel = static_cast<uint8_t>(b);
        ctx.source = &source;
        ctx.status = &status;
        ctx.readMcu = SelectReader(bits, 0);
    }
};

TEST(Pixels, RightEdgeRepeatsTheLastColumn) {
    Reader r(17, 16, 24, 16, 16);
    ASSERT_EQ(ReadMcuRun(&r.ctx, 0, 0, 2, &r.strip), 2u);
    for (int row = 0; row < 16; ++row) {
        const uint8_t *y = r.strip.y + row * kStripWidth;
        for (int x = 0; x < 17; ++x) ASSERT_EQ(y[x], static_cast<uint8_t>(x + 16 * row));
        for (int x = 17; x < 32; ++x) ASSERT_EQ(y[x], static_cast<uint8_t>(16 + 16 * row)) << "column " << x << " repeats column 16";
    }
}

TEST(Pixels, BottomEdgeRepeatsTheLastRow) {
    Reader r(16, 9, 24, 16, 16);
    ASSERT_EQ(ReadMcuRun(&r.ctx, 0, 0, 1, &r.strip), 1u);
    for (int row = 9; row < 16; ++row)
        EXPECT_EQ(0, memcmp(r.strip.y + row * kStripWidth, r.strip.y + 8 * kStripWidth, 16)) << row;
    EXPECT_EQ(r.strip.y[8 * kStripWidth + 3], 3 + 16 * 8);
}

TEST(Pixels, GreyRowsOfThreePixelsRepeatTheThird) {
    Reader r(3, 2, 8, 8, 8);
    ASSERT_EQ(ReadMcuRun(&r.ctx, 0, 0, 1, &r.strip), 1u);
    const uint8_t want0[8] = {0, 1, 2, 2, 2, 2, 2, 2}, want1[8] = {16, 17, 18, 18, 18, 18, 18, 18};
    EXPECT_EQ(0, memcmp(r.strip.y, want0, 8));
    for (int row = 1; row < 8; ++row) EXPECT_EQ(0, memcmp(r.strip.y + row * kStripWidth, want1, 8)) << row;
}

TEST(Pixels, RunStopsAtTheFirstMcuBeyondTheSource) {
    // 40 pixels wide, 24-bit, 8 x 8 MCUs: the top row is the last stride.
    Reader r(40, 8, 24, 8, 8);
    r.source.limit = 7 * 120 + 20 * 3;  // the top row holds 20 pixels
    EXPECT_EQ(ReadMcuRun(&r.ctx, 0, 0, 5, &r.strip), 2u);
    EXPECT_EQ(r.status, JPEG_STATUS_BASE | JPEG_ERR_STREAM);
    r.status = JPEG_STATUS_BASE;
    r.source.limit = 7 * 120 + 24 * 3;
    EXPECT_EQ(ReadMcuRun(&r.ctx, 0, 0, 5, &r.strip), 3u);
    EXPECT_EQ(ReadMcuRun(&r.ctx, 0, 2, 1, &r.strip), 1u);
}

}  // namespace
