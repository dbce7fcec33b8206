// The builds of the hot kernels (baseline, SSE4.1, AVX2) must agree bit for
// bit; the call picks one by processor, and a stream must not depend on it.
#include <gtest/gtest.h>

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
    }
    // Row conversion of every format, over lengths that cover vector tails.
    uint8_t src[4 * 300];
    for (uint8_t &v : src) v = static_cast<uint8_t>(Next(state) >> 24);
    src[0] = src[1] = src[2] = 255;
    for (uint32_t len : {1u, 7u, 8u, 15u, 16u, 17u, 33u, 255u, 300u}) {
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

}  // namespace
