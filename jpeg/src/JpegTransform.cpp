// Forward DCT, quantisation tables and quantisation. The DCT is the
// Loeffler-Ligtenberg-Moschytz factorisation with 13-bit constants and two
// extra bits carried from the row pass to the column pass (the accurate
// integer DCT of the IJG code); its output is eight times the orthonormal
// DCT-II of the level-shifted samples. Quantisation rounds to nearest with
// halves away from zero, by multiplying with an exact reciprocal.
#include "JpegInternal.h"

namespace jpegcodec {

const uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

constexpr int32_t kFix0_298631336 = 2446;
constexpr int32_t kFix0_390180644 = 3196;
constexpr int32_t kFix0_541196100 = 4433;
constexpr int32_t kFix0_765366865 = 6270;
constexpr int32_t kFix0_899976223 = 7373;
constexpr int32_t kFix1_175875602 = 9633;
constexpr int32_t kFix1_501321110 = 12299;
constexpr int32_t kFix1_847759065 = 15137;
constexpr int32_t kFix1_961570560 = 16069;
constexpr int32_t kFix2_053119869 = 16819;
constexpr int32_t kFix2_562915447 = 20995;
constexpr int32_t kFix3_072711026 = 25172;

// One-dimensional transform of eight values spaced `step` apart. Pass 1
// (rows) keeps two extra bits; pass 2 (columns) removes them.
template <bool ColumnPass>
inline void Dct1D(int32_t *d, int step) {
    constexpr int shift = ColumnPass ? 15 : 11;
    constexpr int32_t round = 1 << (shift - 1);
    const int32_t t0 = d[0] + d[7 * step], t7 = d[0] - d[7 * step];
    const int32_t t1 = d[step] + d[6 * step], t6 = d[step] - d[6 * step];
    const int32_t t2 = d[2 * step] + d[5 * step], t5 = d[2 * step] - d[5 * step];
    const int32_t t3 = d[3 * step] + d[4 * step], t4 = d[3 * step] - d[4 * step];

    const int32_t t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
    if (ColumnPass) {
        d[0] = (t10 + t11 + 2) >> 2;
        d[4 * step] = (t10 - t11 + 2) >> 2;
    } else {
        d[0] = (t10 + t11) * 4;
        d[4 * step] = (t10 - t11) * 4;
    }
    const int32_t z1e = (t12 + t13) * kFix0_541196100;
    d[2 * step] = (z1e + t13 * kFix0_765366865 + round) >> shift;
    d[6 * step] = (z1e - t12 * kFix1_847759065 + round) >> shift;

    int32_t z1 = t4 + t7, z2 = t5 + t6, z3 = t4 + t6, z4 = t5 + t7;
    const int32_t z5 = (z3 + z4) * kFix1_175875602;
    const int32_t o4 = t4 * kFix0_298631336, o5 = t5 * kFix2_053119869;
    const int32_t o6 = t6 * kFix3_072711026, o7 = t7 * kFix1_501321110;
    z1 *= -kFix0_899976223;
    z2 *= -kFix2_562915447;
    z3 = z3 * -kFix1_961570560 + z5;
    z4 = z4 * -kFix0_390180644 + z5;
    d[7 * step] = (o4 + z1 + z3 + round) >> shift;
    d[5 * step] = (o5 + z2 + z4 + round) >> shift;
    d[3 * step] = (o6 + z2 + z3 + round) >> shift;
    d[step] = (o7 + z1 + z4 + round) >> shift;
}

}  // namespace

void ForwardDct(const uint8_t *samples, int32_t *out) {
    for (int i = 0; i < 64; ++i) out[i] = static_cast<int32_t>(samples[i]) - 128;
    for (int row = 0; row < 8; ++row) Dct1D<false>(out + 8 * row, 1);
    for (int col = 0; col < 8; ++col) Dct1D<true>(out + col, 8);
}

void BuildQuantTable(const uint8_t *baseWithId, uint8_t quality, QuantTable *table) {
    table->precision = static_cast<uint8_t>(baseWithId[0] >> 4);
    table->id = static_cast<uint8_t>(baseWithId[0] & 0x0F);
    const int32_t scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    for (int i = 0; i < 64; ++i) {
        int32_t v = (baseWithId[1 + i] * scale + 50) / 100;
        if (v > 255) v = 255;
        if (v == 0) v = 1;
        table->value[i] = static_cast<uint8_t>(v);
        table->divisor[i] = static_cast<uint16_t>(8 * v);
        // Exact for every dividend below 2^32 / divisor (see Quantize).
        table->reciprocal[i] = static_cast<uint32_t>(0xFFFFFFFFu / table->divisor[i] + 1);
    }
}

int WriteDqt(JpegEncodeContext *ctx, QuantTable tables[2]) {
    JpegStream *s = ctx->sink;
    const int n = ctx->componentCount == 1 ? 1 : 2;
    if (!s->ops->writeWord(s, 0xFFDB) || !s->ops->writeWord(s, static_cast<uint16_t>(2 + 65 * n))) return 0;
    for (int t = 0; t < n; ++t) {
        const uint8_t *base = kStandardTables + kHuffmanDataSize + 65 * t;
        BuildQuantTable(base, ctx->quality, &tables[t]);
        if (!s->ops->writeByte(s, base[0])) return 0;
        for (int k = 0; k < 64; ++k)
            if (!s->ops->writeByte(s, tables[t].value[kZigZag[k]])) return 0;
    }
    ctx->components[0].quantTable = &tables[0];
    if (n == 2) ctx->components[1].quantTable = ctx->components[2].quantTable = &tables[1];
    return 1;
}

// Rounds c / q to the nearest integer, halves away from zero. With
// n = |c| + q/2 below 2^17 and q at most 2040, floor(n * r / 2^32) with
// r = floor((2^32 - 1) / q) + 1 equals floor(n / q) exactly.
void Quantize(const int32_t *coefficients, const QuantTable *table, int16_t *zz) {
    for (int k = 0; k < 64; ++k) {
        const int nat = kZigZag[k];
        const int32_t c = coefficients[nat];
        const uint32_t q = table->divisor[nat];
        const uint32_t magnitude = static_cast<uint32_t>(c < 0 ? -c : c) + (q >> 1);
        const uint32_t r = static_cast<uint32_t>((static_cast<uint64_t>(magnitude) * table->reciprocal[nat]) >> 32);
        zz[k] = static_cast<int16_t>(c < 0 ? -static_cast<int32_t>(r) : static_cast<int32_t>(r));
    }
}

}  // namespace jpegcodec
