// The builds of the hot kernels (baseline, SSE4.1, AVX2, AVX-512) must agree
// bit for bit; the call picks one by processor, and a stream must not depend
// on it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "JpegInternal.h"

using namespace jpegcodec;

namespace {

uint32_t Next(uint32_t &state) { return state = state * 1664525u + 1013904223u; }

void ExpectSameAsBaseline(const JpegKernels *wide) {
    const JpegKernels *base = BaselineKernels();
    uint32_t state = 7;
    for (int n = 0; n < 5000; ++n) {
        uint8_t block[64];
        const int mode = n % 4;  // noise, extremes, flat, gradient
        for (int i = 0; i < 64; ++i) {
            const uint32_t r = Next(state) >> 24;
            block[i] = static_cast<uint8_t>(mode == 0 ? r : mode == 1 ? (r & 1) * 255 : mode == 2 ? n & 255 : i * 4);
        }
        int32_t a[64], b[64];
        base->forwardDct(block, a);
        wide->forwardDct(block, b);
        ASSERT_EQ(0, memcmp(a, b, sizeof a)) << "block " << n;
        QuantTable t;
        BuildQuantTable(kStandardTables + kHuffmanDataSize + 65 * (n & 1), static_cast<uint8_t>(1 + n % 100), &t);
        int16_t qa[64], qb[64];
        base->quantize(a, &t, qa);
        wide->quantize(a, &t, qb);
        ASSERT_EQ(0, memcmp(qa, qb, sizeof qa)) << "block " << n;
        // The fused transform and quantisation against the two steps, alone
        // and paired with the previous block and the other table.
        int16_t fused[64];
        wide->dctQuantize(block, &t, fused);
        ASSERT_EQ(0, memcmp(qa, fused, sizeof qa)) << "block " << n;
        static uint8_t previous[64];
        static QuantTable previousTable;
        if (n == 0) BuildQuantTable(kStandardTables + kHuffmanDataSize + 65, 50, &previousTable);
        int16_t pa[64], pb[64], qp[64];
        base->dctQuantize(previous, &previousTable, qp);
        wide->dctQuantizePair(previous, block, &previousTable, &t, pa, pb);
        ASSERT_EQ(0, memcmp(qp, pa, sizeof qp)) << "first of pair " << n;
        ASSERT_EQ(0, memcmp(qa, pb, sizeof qa)) << "second of pair " << n;
        memcpy(previous, block, sizeof previous);
        previousTable = t;
    }
    // Blocks of 0 and 255 following the signs of each cosine pattern give
    // the largest coefficients and intermediate sums the transform meets.
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            for (int invert = 0; invert < 2; ++invert) {
                uint8_t block[64];
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const double c = std::cos((2 * x + 1) * u * 3.14159265358979 / 16) *
                                         std::cos((2 * y + 1) * v * 3.14159265358979 / 16);
                        block[8 * y + x] = static_cast<uint8_t>((c >= 0) != (invert == 1) ? 255 : 0);
                    }
                QuantTable t;
                BuildQuantTable(kStandardTables + kHuffmanDataSize, 100, &t);
                int16_t qa[64], pa[64], pb[64];
                base->dctQuantize(block, &t, qa);
                wide->dctQuantizePair(block, block, &t, &t, pa, pb);
                ASSERT_EQ(0, memcmp(qa, pa, sizeof qa)) << u << " " << v;
                ASSERT_EQ(0, memcmp(qa, pb, sizeof qa)) << u << " " << v;
            }
    // Chroma sampling of random planes with the strip's row pitch.
    for (int n = 0; n < 200; ++n) {
        static uint8_t planes[3][16 * kStripWidth];
        for (auto &plane : planes)
            for (uint8_t &v : plane) v = static_cast<uint8_t>(n % 3 == 0 ? (Next(state) >> 31) * 255 : Next(state) >> 24);
        for (int mode = 0; mode < 3; ++mode) {
            uint8_t a[512], b[512];
            memset(a, 0, sizeof a);
            memset(b, 0, sizeof b);
            base->sampleChroma[mode](a, planes[0], planes[1], planes[2], kStripWidth);
            wide->sampleChroma[mode](b, planes[0], planes[1], planes[2], kStripWidth);
            ASSERT_EQ(0, memcmp(a, b, sizeof a)) << "sampling " << mode;
        }
    }
    // Row conversion of every format, over lengths that cover vector tails.
    uint8_t src[4 * 300];
    for (uint8_t &v : src) v = static_cast<uint8_t>(Next(state) >> 24);
    src[0] = src[1] = src[2] = 255;
    for (uint32_t len : {1u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 255u, 300u}) {
        const ReadMcu pairs[][2] = {{base->convertGrey, wide->convertGrey},
                                    {base->convert555[0], wide->convert555[0]},
                                    {base->convert555[1], wide->convert555[1]},
                                    {base->convert24[0], wide->convert24[0]},
                                    {base->convert24[1], wide->convert24[1]},
                                    {base->convert32[0], wide->convert32[0]},
                                    {base->convert32[1], wide->convert32[1]}};
        for (const auto &pair : pairs) {
            uint8_t y[2][300], cb[2][300], cr[2][300];
            memset(y, 0, sizeof y);
            memset(cb, 0, sizeof cb);
            memset(cr, 0, sizeof cr);
            pair[0](src, len, y[0], cb[0], cr[0]);
            pair[1](src, len, y[1], cb[1], cr[1]);
            ASSERT_EQ(0, memcmp(y[0], y[1], 300)) << len;
            ASSERT_EQ(0, memcmp(cb[0], cb[1], 300)) << len;
            ASSERT_EQ(0, memcmp(cr[0], cr[1], 300)) << len;
        }
    }
}

TEST(Kernels, Sse41BuildMatchesTheBaselineBuild) {
    if (Sse41Kernels() == nullptr) GTEST_SKIP() << "no SSE4.1 build on this processor";
    ExpectSameAsBaseline(Sse41Kernels());
}

TEST(Kernels, Avx2BuildMatchesTheBaselineBuild) {
    if (Avx2Kernels() == nullptr) GTEST_SKIP() << "no AVX2 build on this processor";
    ExpectSameAsBaseline(Avx2Kernels());
}

TEST(Kernels, Avx512BuildMatchesTheBaselineBuild) {
    if (Avx512Kernels() == nullptr) GTEST_SKIP() << "no AVX-512 build on this processor";
    ExpectSameAsBaseline(Avx512Kernels());
}

TEST(Kernels, EveryPixelOfEveryColourConvertsAlike) {
    // All 2^24 colours, in runs long enough for the widest kernels.
    const JpegKernels *wide = ActiveKernels();
    static uint8_t src[3 * 4096];
    static uint8_t out[2][3][4096];
    for (uint32_t first = 0; first < (1u << 24); first += 4096) {
        for (uint32_t i = 0; i < 4096; ++i) {
            const uint32_t c = first + i;
            src[3 * i] = static_cast<uint8_t>(c), src[3 * i + 1] = static_cast<uint8_t>(c >> 8);
            src[3 * i + 2] = static_cast<uint8_t>(c >> 16);
        }
        BaselineKernels()->convert24[1](src, 4096, out[0][0], out[0][1], out[0][2]);
        wide->convert24[1](src, 4096, out[1][0], out[1][1], out[1][2]);
        ASSERT_EQ(0, memcmp(out[0], out[1], sizeof out[0])) << "colours from " << first;
    }
}

}  // namespace
