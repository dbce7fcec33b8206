// Byte streams: every header byte the encoder writes goes through a
// JpegStream. A MemoryStream works on a caller buffer of known size and
// refuses to pass its end; a CountingStream stores nothing and only advances
// a position and a high-water mark, so the sizing pass runs the same code as
// the writing pass. The entropy coder and the pixel readers use the stream's
// fields directly (JpegEntropy.cpp, JpegPixels.cpp).
#include <assert.h>
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

const uint8_t kPaddingMask[8] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};

namespace {

void SetStreamCode(JpegStream *s) { *s->status |= JPEG_ERR_STREAM; }

// ---- operations shared by both variants

int SetReadOrder(JpegStream *s, int littleEndian) {
    if (s->memory) s->readLittle = littleEndian == 1 ? 1 : 0;
    return 1;
}

int SetWriteOrder(JpegStream *s, int littleEndian) {
    if (s->memory) s->writeLittle = littleEndian == 1 ? 1 : 0;
    return 1;
}

uint32_t Tell(const JpegStream *s) { return s->position; }

// ---- MemoryStream

int MemSeek(JpegStream *s, int32_t offset, int origin) {
    uint32_t target;
    switch (origin) {
        case 0: target = static_cast<uint32_t>(offset); break;
        case 1: target = s->position + static_cast<uint32_t>(offset); break;
        case 2:
            // Only a negative offset from the end is meaningful.
            if (offset >= 0) return 0;
            target = s->limit + static_cast<uint32_t>(offset);
            break;
        default: return 0;
    }
    if (target >= s->limit) {
        SetStreamCode(s);
        return 0;
    }
    s->position = target;
    return 1;
}

int MemReadByte(JpegStream *s, uint8_t *value) {
    s->bitCount = 0;
    if (s->position >= s->limit) {
        SetStreamCode(s);
        return 0;
    }
    *value = s->base[s->position++];
    return 1;
}

int MemReadBit(JpegStream *s, uint8_t *bit) {
    if (s->bitCount > 0) {
        *bit = static_cast<uint8_t>((s->bitBuffer >> 7) & 1);
        s->bitBuffer = (s->bitBuffer << 1) & 0xFF;
        --s->bitCount;
        return 1;
    }
    uint8_t byte;
    if (!MemReadByte(s, &byte)) return 0;
    if (byte == 0xFF) {
        // A data 0xFF is always followed by a stuffed zero.
        if (s->position >= s->limit || s->base[s->position] != 0x00) {
            SetStreamCode(s);
            return 0;
        }
        ++s->position;
    }
    *bit = static_cast<uint8_t>(byte >> 7);
    s->bitBuffer = (static_cast<uint32_t>(byte) << 1) & 0xFF;
    s->bitCount = 7;
    return 1;
}

int MemReadWord(JpegStream *s, uint16_t *value) {
    if (s->limit - s->position < 2 || s->position > s->limit) {
        SetStreamCode(s);
        return 0;
    }
    const uint8_t *p = s->base + s->position;
    *value = s->readLittle ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : static_cast<uint16_t>((p[0] << 8) | p[1]);
    s->position += 2;
    return 1;
}

int MemReadDword(JpegStream *s, uint32_t *value) {
    if (s->limit - s->position < 4 || s->position > s->limit) {
        SetStreamCode(s);
        return 0;
    }
    const uint8_t *p = s->base + s->position;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t b = p[s->readLittle ? 3 - i : i];
        v = (v << 8) | b;
    }
    *value = v;
    s->position += 4;
    return 1;
}

// Stores one byte with its bound check; no bit handling.
int MemPut(JpegStream *s, uint8_t value) {
    if (s->out == nullptr || s->position >= s->limit) {
        SetStreamCode(s);
        return 0;
    }
    s->out[s->position++] = value;
    return 1;
}

int MemWriteBit(JpegStream *s, uint32_t bit) {
    s->bitBuffer |= (bit & 1) << (7 - s->bitCount);
    if (++s->bitCount < 8) return 1;
    const uint8_t byte = static_cast<uint8_t>(s->bitBuffer);
    s->bitBuffer = 0;
    s->bitCount = 0;
    if (!MemPut(s, byte)) return 0;
    if (byte == 0xFF && !MemPut(s, 0x00)) return 0;
    return 1;
}

int MemWriteByte(JpegStream *s, uint8_t value) {
    // The encoder flushes its bits before every marker; a byte write with
    // bits pending would put the partial byte out unpadded.
    assert(s->bitCount == 0 && "byte write with pending bits");
    if (s->bitCount > 0) {
        const uint8_t partial = static_cast<uint8_t>(s->bitBuffer);
        s->bitBuffer = 0;
        s->bitCount = 0;
        if (!MemPut(s, partial)) return 0;
    }
    return MemPut(s, value);
}

int MemWriteWord(JpegStream *s, uint16_t value) {
    const uint8_t hi = static_cast<uint8_t>(value >> 8), lo = static_cast<uint8_t>(value);
    if (s->writeLittle) return MemWriteByte(s, lo) && MemWriteByte(s, hi);
    return MemWriteByte(s, hi) && MemWriteByte(s, lo);
}

int MemWriteDword(JpegStream *s, uint32_t value) {
    const uint16_t hi = static_cast<uint16_t>(value >> 16), lo = static_cast<uint16_t>(value);
    if (s->writeLittle) return MemWriteWord(s, lo) && MemWriteWord(s, hi);
    return MemWriteWord(s, hi) && MemWriteWord(s, lo);
}

int MemFlushBits(JpegStream *s) {
    if (s->bitCount == 0) return 1;
    const uint8_t byte = static_cast<uint8_t>(s->bitBuffer | kPaddingMask[s->bitCount]);
    if (!MemPut(s, byte)) return 0;
    s->bitBuffer = 0;
    s->bitCount = 0;
    if (byte == 0xFF && !MemPut(s, 0x00)) return 0;
    return 1;
}

int MemWriteBits(JpegStream *s, uint32_t count, uint16_t value) {
    count &= 0xFF;
    for (uint32_t i = count; i > 0; --i) {
        const uint32_t bit = i - 1 < 16 ? (value >> (i - 1)) & 1 : 0;
        const uint16_t saved = *s->status;
        const int ok = MemWriteBit(s, bit);
        if (!ok) {
            *s->status = saved;  // an overflow here carries no code
            return 0;
        }
    }
    return 1;
}

// ---- CountingStream

void Advance(JpegStream *s, uint32_t n) {
    s->position += n;
    if (s->position > s->limit) s->limit = s->position;
}

int CountSeek(JpegStream *s, int32_t offset, int origin) {
    int64_t target;
    switch (origin) {
        case 0: target = offset; break;
        case 1: target = static_cast<int64_t>(s->position) + offset; break;
        case 2: target = static_cast<int64_t>(s->limit) + offset; break;
        default: return 0;
    }
    if (target < 0 || target > 0xFFFFFFFFll) return 0;
    s->position = static_cast<uint32_t>(target);
    return 1;
}

int CountReadBit(JpegStream *, uint8_t *) { return 0; }
int CountReadByte(JpegStream *, uint8_t *) { return 0; }
int CountReadWord(JpegStream *, uint16_t *) { return 0; }
int CountReadDword(JpegStream *, uint32_t *) { return 0; }

int CountWriteBit(JpegStream *s, uint32_t bit) {
    s->bitBuffer |= (bit & 1) << (7 - s->bitCount);
    if (++s->bitCount < 8) return 1;
    Advance(s, s->bitBuffer == 0xFF ? 2 : 1);
    s->bitBuffer = 0;
    s->bitCount = 0;
    return 1;
}

int CountWriteByte(JpegStream *s, uint8_t) {
    assert(s->bitCount == 0 && "byte write with pending bits");
    if (s->bitCount > 0) {
        s->bitBuffer = 0;
        s->bitCount = 0;
        Advance(s, 1);
    }
    Advance(s, 1);
    return 1;
}

int CountWriteWord(JpegStream *s, uint16_t v) {
    CountWriteByte(s, static_cast<uint8_t>(v >> 8));
    return CountWriteByte(s, static_cast<uint8_t>(v));
}

int CountWriteDword(JpegStream *s, uint32_t v) {
    CountWriteWord(s, static_cast<uint16_t>(v >> 16));
    return CountWriteWord(s, static_cast<uint16_t>(v));
}

int CountFlushBits(JpegStream *s) {
    if (s->bitCount == 0) return 1;
    const uint32_t byte = s->bitBuffer | kPaddingMask[s->bitCount];
    s->bitBuffer = 0;
    s->bitCount = 0;
    Advance(s, byte == 0xFF ? 2 : 1);
    return 1;
}

int CountWriteBits(JpegStream *s, uint32_t count, uint16_t value) {
    count &= 0xFF;
    for (uint32_t i = count; i > 0; --i) CountWriteBit(s, i - 1 < 16 ? (value >> (i - 1)) & 1 : 0);
    return 1;
}

const JpegStreamOps kMemoryOps = {SetReadOrder, SetWriteOrder, Tell,          MemSeek,      MemReadBit,
                                  MemReadByte,  MemReadWord,   MemReadDword,  MemWriteBit,  MemWriteByte,
                                  MemWriteWord, MemWriteDword, MemFlushBits,  MemWriteBits};

const JpegStreamOps kCountingOps = {SetReadOrder,   SetWriteOrder,  Tell,           CountSeek,     CountReadBit,
                                    CountReadByte,  CountReadWord,  CountReadDword, CountWriteBit, CountWriteByte,
                                    CountWriteWord, CountWriteDword, CountFlushBits, CountWriteBits};

}  // namespace

void MakeMemoryStream(JpegStream *s, const uint8_t *base, uint8_t *out, uint32_t size, uint16_t *status) {
    memset(s, 0, sizeof *s);
    s->ops = &kMemoryOps;
    s->memory = 1;
    s->readLittle = 1;
    s->writeLittle = 1;
    s->base = base;
    s->out = out;
    s->limit = size;
    s->status = status;
}

void MakeCountingStream(JpegStream *s, uint16_t *status) {
    memset(s, 0, sizeof *s);
    s->ops = &kCountingOps;
    s->status = status;
}

}  // namespace jpegcodec
