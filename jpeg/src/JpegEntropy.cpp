// Huffman coding of quantised blocks (baseline sequential, T.81 F.1.2). Bits
// are gathered in a 64-bit accumulator and leave it four bytes at a time,
// with a zero byte stuffed after every 0xFF. A block's DC part and its AC
// part are each one piece: in the writing pass a piece goes straight to the
// output when the block surely fits, else it is staged and copied after one
// capacity check; in the sizing pass the staged bytes are only counted.
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "JpegInternal.h"

namespace jpegcodec {

namespace {

// The most bytes one block can produce: a DC piece of at most 11 + 16 bits
// and an AC piece of 63 codes of up to 26 bits, plus 7 carried bits, every
// byte stuffed.
constexpr uint32_t kMaxBlockBytes = 512;

struct BitSink {
    uint64_t acc;  // the low `count` bits are pending, oldest first
    uint32_t count;
    uint8_t *p;
};

inline bool HasFFByte(uint32_t v) { return ((~v - 0x01010101u) & v & 0x80808080u) != 0; }

inline void EmitByte(BitSink &w, uint32_t b) {
    *w.p++ = static_cast<uint8_t>(b);
    if (b == 0xFF) *w.p++ = 0;
}

inline void Drain32(BitSink &w) {
    const uint32_t v = static_cast<uint32_t>(w.acc >> (w.count - 32));
    if (HasFFByte(v)) {
        EmitByte(w, v >> 24);
        EmitByte(w, (v >> 16) & 0xFF);
        EmitByte(w, (v >> 8) & 0xFF);
        EmitByte(w, v & 0xFF);
    } else {
        w.p[0] = static_cast<uint8_t>(v >> 24);
        w.p[1] = static_cast<uint8_t>(v >> 16);
        w.p[2] = static_cast<uint8_t>(v >> 8);
        w.p[3] = static_cast<uint8_t>(v);
        w.p += 4;
    }
    w.count -= 32;
}

// Appends `len` bits (at most 32 - 5; the accumulator holds at most 31
// before the call).
inline void Put(BitSink &w, uint32_t bits, uint32_t len) {
    w.acc = (w.acc << len) | bits;
    w.count += len;
    if (w.count >= 32) Drain32(w);
}

// Puts out every complete byte, leaving fewer than 8 bits pending.
inline void FinishPiece(BitSink &w) {
    while (w.count >= 8) {
        w.count -= 8;
        EmitByte(w, static_cast<uint32_t>(w.acc >> w.count) & 0xFF);
    }
}

inline uint32_t BitLength(uint32_t a) { return a == 0 ? 0 : 32 - static_cast<uint32_t>(__builtin_clz(a)); }

// The size category and the value bits of a coefficient or difference.
inline void Category(int32_t v, uint32_t *size, uint32_t *bits) {
    const uint32_t a = static_cast<uint32_t>(v < 0 ? -v : v);
    const uint32_t s = BitLength(a);
    const uint32_t m = (1u << s) - 1;
    *size = s;
    *bits = static_cast<uint32_t>(v < 0 ? v - 1 : v) & m;
}

inline void CodeDc(BitSink &w, JpegComponent *comp, const int16_t *zz) {
    const int32_t diff = static_cast<int32_t>(zz[0]) - comp->dcPred;
    comp->dcPred = zz[0];
    uint32_t s, bits;
    Category(diff, &s, &bits);
    const HuffEncodeTable *t = comp->dcTable;
    Put(w, (static_cast<uint32_t>(t->ehufco[s]) << s) | bits, t->ehufsi[s] + s);
}

// Bit k set when zz[k] is not zero.
inline uint64_t NonZeroMask(const int16_t *zz) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(zz + i)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(zz + i + 8)), zero);
        const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
        mask |= static_cast<uint64_t>(~zeros & 0xFFFFu) << i;
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) mask |= static_cast<uint64_t>(zz[k] != 0) << k;
    return mask;
#endif
}

inline void CodeAc(BitSink &w, const JpegComponent *comp, const int16_t *zz) {
    const HuffEncodeTable *t = comp->acTable;
    uint64_t nonzero = NonZeroMask(zz) & ~1ull;
    int last = 0;
    while (nonzero != 0) {
        const int k = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        uint32_t run = static_cast<uint32_t>(k - last - 1);
        while (run > 15) {
            Put(w, t->ehufco[0xF0], t->ehufsi[0xF0]);
            run -= 16;
        }
        uint32_t s, bits;
        Category(zz[k], &s, &bits);
        const uint32_t sym = (run << 4) | s;
        Put(w, (static_cast<uint32_t>(t->ehufco[sym]) << s) | bits, t->ehufsi[sym] + s);
        last = k;
    }
    if (last != 63) Put(w, t->ehufco[0x00], t->ehufsi[0x00]);
}

inline BitSink StartPiece(const JpegStream *s, uint8_t *p) {
    BitSink w;
    w.acc = s->bitCount ? s->bitBuffer >> (8 - s->bitCount) : 0;
    w.count = s->bitCount;
    w.p = p;
    return w;
}

inline void StorePending(JpegStream *s, const BitSink &w) {
    s->bitCount = w.count;
    s->bitBuffer = w.count ? static_cast<uint32_t>(w.acc << (8 - w.count)) & 0xFF : 0;
}

// Appends one staged piece to the writing sink after one capacity check;
// the position moves before the check, which carries no stream code.
inline int CommitPiece(JpegStream *s, const uint8_t *staged, const BitSink &w) {
    const uint32_t n = static_cast<uint32_t>(w.p - staged);
    if (n > 0) {
        const uint32_t at = s->position;
        s->position += n;
        if (s->position > s->limit || s->position < at) return 0;
        memcpy(s->out + at, staged, n);
    }
    StorePending(s, w);
    return 1;
}

}  // namespace

void BuildHuffEncodeTable(const uint8_t *classAndId, HuffEncodeTable *table, uint32_t *consumed) {
    table->spare = 0;
    table->id = static_cast<uint8_t>(classAndId[0] & 0x0F);
    memset(table->ehufsi, 0, sizeof table->ehufsi);
    memset(table->ehufco, 0, sizeof table->ehufco);
    const uint8_t *bits = classAndId + 1;
    const uint8_t *values = classAndId + 17;
    uint32_t code = 0, k = 0;
    for (uint32_t len = 1; len <= 16; ++len) {
        for (uint32_t i = 0; i < bits[len - 1]; ++i, ++k) {
            table->ehufsi[values[k]] = static_cast<uint8_t>(len);
            table->ehufco[values[k]] = static_cast<uint16_t>(code++);
        }
        code <<= 1;
    }
    *consumed = 17 + k;
}

int EncodeBlock(JpegEncodeContext *ctx, JpegComponent *comp, const int16_t *zz) {
    JpegStream *s = ctx->sink;
    if ((ctx->passTag & 1) == 0) {
        // Sizing pass: pack into a scratch area and count the bytes.
        uint8_t scratch[kMaxBlockBytes];
        BitSink w = StartPiece(s, scratch);
        CodeDc(w, comp, zz);
        CodeAc(w, comp, zz);
        FinishPiece(w);
        s->position += static_cast<uint32_t>(w.p - scratch);
        if (s->position > s->limit) s->limit = s->position;
        StorePending(s, w);
        return 1;
    }
    if (s->position <= s->limit && s->limit - s->position >= kMaxBlockBytes) {
        // The whole block fits whatever its content: write in place.
        uint8_t *start = s->out + s->position;
        BitSink w = StartPiece(s, start);
        CodeDc(w, comp, zz);
        CodeAc(w, comp, zz);
        FinishPiece(w);
        s->position += static_cast<uint32_t>(w.p - start);
        StorePending(s, w);
        return 1;
    }
    // Near the end of the output: each piece is staged and checked.
    uint8_t staging[kMaxBlockBytes];
    BitSink w = StartPiece(s, staging);
    CodeDc(w, comp, zz);
    FinishPiece(w);
    if (!CommitPiece(s, staging, w)) return 0;
    w = StartPiece(s, staging);
    CodeAc(w, comp, zz);
    FinishPiece(w);
    return CommitPiece(s, staging, w);
}

}  // namespace jpegcodec
