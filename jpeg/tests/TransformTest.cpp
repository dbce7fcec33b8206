// Forward DCT, quantisation tables and quantisation rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "JpegInternal.h"

using namespace jpegcodec;

namespace {

TEST(Transform, FlatBlocksGiveOnlyADcCoefficient) {
    uint8_t block[64];
    int32_t coef[64];
    const struct {
        uint8_t sample;
        int32_t dc;
    } cases[] = {{128, 0}, {255, 8128}, {0, -8192}};
    for (const auto &c : cases) {
        memset(block, c.sample, sizeof block);
        ForwardDct(block, coef);
        EXPECT_EQ(coef[0], c.dc) << int(c.sample);
        for (int i = 1; i < 64; ++i) ASSERT_EQ(coef[i], 0) << int(c.sample) << " at " << i;
    }
}

TEST(Transform, DctIsEightTimesTheOrthonormalDct) {
    // Against a double-precision DCT-II on pseudo-random blocks: the
    // fixed-point transform stays within a small rounding error.
    uint32_t state = 12345;
    int worst = 0;
    for (int n = 0; n < 2000; ++n) {
        uint8_t block[64];
        int32_t coef[64];
        for (int i = 0; i < 64; ++i) {
            state = state * 1664525u + 1013904223u;
            block[i] = static_cast<uint8_t>(n % 3 == 0 ? (state >> 24) : ((i % 8) * 30 + (state >> 29)));
        }
        ForwardDct(block, coef);
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v) {
                double sum = 0;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        sum += (block[8 * y + x] - 128.0) * std::cos((2 * x + 1) * v * M_PI / 16) *
                               std::cos((2 * y + 1) * u * M_PI / 16);
                const double cu = u == 0 ? std::sqrt(0.125) : 0.5, cv = v == 0 ? std::sqrt(0.125) : 0.5;
                const double want = 8 * cu * cv * sum;
                const int err = static_cast<int>(std::lround(std::fabs(want - coef[8 * u + v])));
                worst = std::max(worst, err);
            }
    }
    EXPECT_LE(worst, 8) << "in units of 1/8 of a coefficient";
}

TEST(Transform, QuantisationRoundsHalvesAwayFromZero) {
    QuantTable t;
    BuildQuantTable(kStandardTables + kHuffmanDataSize, 50, &t);
    EXPECT_EQ(t.divisor[0], 128);
    int32_t coef[64] = {};
    int16_t zz[64];
    const struct {
        int32_t c;
        int16_t q;
    } dc[] = {{8128, 64}, {-8192, -64}, {63, 0}, {64, 1}, {-64, -1}, {-63, 0}, {191, 1}, {192, 2}, {-192, -2}};
    for (const auto &d : dc) {
        coef[0] = d.c;
        Quantize(coef, &t, zz);
        EXPECT_EQ(zz[0], d.q) << d.c;
    }
}

TEST(Transform, ReciprocalQuantisationEqualsDivisionForEveryDivisor) {
    // Every divisor a table can hold (8 x 1..255) against every coefficient
    // the DCT of 8-bit samples can produce, and then some.
    QuantTable t;
    for (uint32_t v = 1; v <= 255; ++v) {
        for (int i = 0; i < 64; ++i) SetQuantDivisor(&t, i, static_cast<uint16_t>(8 * v));
        const int32_t q = static_cast<int32_t>(8 * v);
        int32_t coef[64];
        int16_t zz[64];
        for (int32_t base = -24576; base <= 24576 - 64; base += 64) {
            for (int i = 0; i < 64; ++i) coef[i] = base + i;
            Quantize(coef, &t, zz);
            for (int k = 0; k < 64; ++k) {
                const int32_t c = coef[kZigZag[k]];
                const int32_t want = c >= 0 ? (c + q / 2) / q : -((q / 2 - c) / q);
                ASSERT_EQ(zz[k], want) << "c " << c << " q " << q;
            }
        }
    }
}

TEST(Transform, QualityScalingOfTheTables) {
    const uint8_t *luma = kStandardTables + kHuffmanDataSize;
    const uint8_t *chroma = luma + 65;
    QuantTable t;
    BuildQuantTable(luma, 50, &t);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(t.value[i], luma[1 + i]) << "quality 50 sends the base table";
    BuildQuantTable(chroma, 50, &t);
    EXPECT_EQ(t.id, 1);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(t.value[i], chroma[1 + i]);
    for (const uint8_t *base : {luma, chroma}) {
        BuildQuantTable(base, 100, &t);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(t.divisor[i], 8);
        BuildQuantTable(base, 1, &t);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(t.value[i], 255);
    }
    BuildQuantTable(luma, 75, &t);
    EXPECT_EQ(t.value[0], 8);   // 16 -> 8
    EXPECT_EQ(t.value[1], 6);   // 11 -> 6
    BuildQuantTable(luma, 49, &t);
    EXPECT_EQ(t.value[0], 16);  // (16 x 102 + 50) div 100
    EXPECT_EQ(t.value[63], 101);  // (99 x 102 + 50) div 100
}

TEST(Transform, ZigZagVisitsEveryIndexOnce) {
    bool seen[64] = {};
    for (int k = 0; k < 64; ++k) {
        ASSERT_FALSE(seen[kZigZag[k]]);
        seen[kZigZag[k]] = true;
    }
    const uint8_t head[10] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24};
    EXPECT_EQ(0, memcmp(kZigZag, head, 10));
    EXPECT_EQ(kZigZag[62], 62);
    EXPECT_EQ(kZigZag[63], 63);
}

}  // namespace
