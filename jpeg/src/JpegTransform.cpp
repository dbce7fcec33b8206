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

// Ceiling of log2 for 2 <= q <= 65535.
inline uint32_t CeilLog2(uint32_t q) { return 32 - static_cast<uint32_t>(__builtin_clz(q - 1)); }

}  // namespace

void SetQuantDivisor(QuantTable *table, int index, uint16_t divisor) {
    // floor(n / q) = floor(floor(n * r / 2^16) * 2^(32 - k) / 2^16) with
    // r = floor((2^k - 1) / q) + 1 and k = 15 + ceil(log2 q): exact for every
    // n below 2^15, and r stays below 2^16. Divisors are 8 to 2040.
    const uint32_t k = 15 + CeilLog2(divisor);
    table->divisor[index] = divisor;
    table->half[index] = static_cast<uint16_t>(divisor >> 1);
    table->reciprocal[index] = static_cast<uint16_t>(((1u << k) - 1) / divisor + 1);
    table->scale[index] = static_cast<uint16_t>(1u << (32 - k));
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
        SetQuantDivisor(table, i, static_cast<uint16_t>(8 * v));
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

void ForwardDct(const uint8_t *samples, int32_t *coefficients) { ActiveKernels()->forwardDct(samples, coefficients); }

void Quantize(const int32_t *coefficients, const QuantTable *table, int16_t *zz) {
    ActiveKernels()->quantize(coefficients, table, zz);
}

}  // namespace jpegcodec
