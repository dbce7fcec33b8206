// Internal interfaces of the encoder, shared by its stages and by the unit
// tests (which link the static core library). The data flows
//   JpegEncode (entry, job, MCU loop)
//   -> JpegPixels (source rows to Y/Cb/Cr strips, chroma sampling)
//   -> JpegTransform (forward DCT, quantisation, DQT)
//   -> JpegEntropy (Huffman tables, block coding)
//   -> JpegStream (byte streams), with JpegMarkers writing the headers.
#ifndef JPEGCODEC_INTERNAL_H
#define JPEGCODEC_INTERNAL_H

#include <stdint.h>

#include "jpegcodec.h"

namespace jpegcodec {

// ---------------------------------------------------------------- streams

struct JpegStream;

// The table of operations a stream carries. Every operation returns 1 on
// success and 0 on failure.
struct JpegStreamOps {
    int (*setReadOrder)(JpegStream *s, int littleEndian);
    int (*setWriteOrder)(JpegStream *s, int littleEndian);
    uint32_t (*tell)(const JpegStream *s);
    int (*seek)(JpegStream *s, int32_t offset, int origin);
    int (*readBit)(JpegStream *s, uint8_t *bit);
    int (*readByte)(JpegStream *s, uint8_t *value);
    int (*readWord)(JpegStream *s, uint16_t *value);
    int (*readDword)(JpegStream *s, uint32_t *value);
    int (*writeBit)(JpegStream *s, uint32_t bit);
    int (*writeByte)(JpegStream *s, uint8_t value);
    int (*writeWord)(JpegStream *s, uint16_t value);
    int (*writeDword)(JpegStream *s, uint32_t value);
    int (*flushBits)(JpegStream *s);
    int (*writeBits)(JpegStream *s, uint32_t count, uint16_t value);
};

struct JpegStream {
    const JpegStreamOps *ops;
    uint32_t bitBuffer;   // byte being assembled; the first bit sits in bit 7
    uint32_t bitCount;    // bits already placed, 0 to 7
    uint8_t memory;       // 1: MemoryStream, 0: CountingStream
    uint8_t readLittle;   // 1: 16/32-bit reads least significant byte first
    uint8_t writeLittle;  // 1: 16/32-bit writes least significant byte first
    const uint8_t *base;  // readable bytes (none for a CountingStream)
    uint8_t *out;         // writable bytes: the sink of the writing pass only
    uint32_t limit;       // MemoryStream: size; CountingStream: high-water mark
    uint32_t position;    // offset of the next byte
    uint16_t *status;     // the call's status word; bound failures OR 0x0005
};

// A stream over a caller buffer. `out` is null for a read-only source.
void MakeMemoryStream(JpegStream *s, const uint8_t *base, uint8_t *out, uint32_t size, uint16_t *status);
// A stream that stores nothing and counts what would be written.
void MakeCountingStream(JpegStream *s, uint16_t *status);

// Unused bits of a partly filled byte, by bit count (index 0 is never used).
extern const uint8_t kPaddingMask[8];

// --------------------------------------------------------------- tables

// ITU-T T.81 Figure A.6: natural index of the k-th coefficient in zig-zag order.
extern const uint8_t kZigZag[64];

// DHT body of the four Annex K Huffman tables (K.3, K.5, K.4, K.6), 416
// bytes, followed directly by the two base quantisation tables (K.1, K.2),
// each preceded by its precision-and-id byte: 2 x 65 bytes.
extern const uint8_t kStandardTables[416 + 130];
inline constexpr uint32_t kHuffmanDataSize = 416;
inline constexpr uint32_t kLumaHuffmanSize = 208;

struct QuantTable {
    uint8_t precision;        // 0: 8-bit entries
    uint8_t id;               // 0 luminance, 1 chrominance
    uint16_t divisor[64];     // 8 x the DQT value, natural order
    uint16_t half[64];        // divisor / 2, the rounding term
    uint16_t reciprocal[64];  // with `scale`, exact division (SetQuantDivisor)
    uint16_t scale[64];
    uint8_t value[64];        // the DQT values, natural order
};

struct HuffEncodeTable {
    uint8_t spare;
    uint8_t id;            // Th
    uint8_t ehufsi[256];   // code length by symbol
    uint16_t ehufco[256];  // code by symbol
};

// ---------------------------------------------------------------- context

struct JpegComponent {
    uint8_t id;
    uint8_t hSamp;
    uint8_t vSamp;
    int16_t dcPred;
    const HuffEncodeTable *dcTable;
    const HuffEncodeTable *acTable;
    const QuantTable *quantTable;
};

struct JpegEncodeContext;

// Widest run of pixels converted at once (a multiple of every MCU width).
inline constexpr uint32_t kStripWidth = 64;

// Y, Cb and Cr strips of up to 16 rows of kStripWidth samples (grey uses Y).
struct McuStrip {
    uint8_t y[16 * kStripWidth];
    uint8_t cb[16 * kStripWidth];
    uint8_t cr[16 * kStripWidth];
};

// Converts `pixels` pixels of one source row into Y, Cb and Cr samples
// (grey: Y only; cb and cr are then not touched).
using ReadMcu = void (*)(const uint8_t *src, uint32_t pixels, uint8_t *y, uint8_t *cb, uint8_t *cr);

// Reorders the luminance of one MCU into 8 x 8 blocks and subsamples the
// chrominance; the planes have a row pitch of `pitch` bytes.
using SampleChroma = void (*)(uint8_t *mcuBuffer, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                              uint32_t pitch);

// Codes one quantised block given in zig-zag order.
using EncodeBlockFn = int (*)(JpegEncodeContext *ctx, JpegComponent *comp, const int16_t *zz);

struct EncodeSettings {
    uint8_t quality;
    uint8_t sampling;
    uint16_t restartInterval;
    uint16_t passTag;
    uint8_t bytesPerPixel;
    ReadMcu readMcu;
    EncodeBlockFn encodeBlock;
};

struct JpegEncodeContext {
    uint8_t componentCount;
    uint16_t frameHeight;
    uint16_t frameWidth;
    uint16_t restartInterval;
    uint32_t width;
    uint32_t height;
    uint32_t srcOrigin;
    uint8_t quality;
    uint16_t passTag;  // 2 sizing, 3 writing
    uint8_t mcuWidth;
    uint8_t mcuHeight;
    uint16_t mcusPerRow;
    uint32_t mcuCount;
    uint32_t mcusDone;
    JpegComponent components[3];
    uint32_t rowStride;
    uint8_t bytesPerPixel;
    JpegStream *source;
    JpegStream *sink;
    ReadMcu readMcu;
    EncodeBlockFn encodeBlock;
    SampleChroma sampleChroma;
    uint16_t *status;
};

// ------------------------------------------------------------- kernels

// The hot loops, built once per instruction set with identical results.
struct JpegKernels {
    void (*forwardDct)(const uint8_t *samples, int32_t *coefficients);
    void (*quantize)(const int32_t *coefficients, const QuantTable *table, int16_t *zz);
    // forwardDct then quantize, without the coefficients leaving registers.
    void (*dctQuantize)(const uint8_t *samples, const QuantTable *table, int16_t *zz);
    // dctQuantize of two blocks, each with its own table.
    void (*dctQuantizePair)(const uint8_t *a, const uint8_t *b, const QuantTable *ta, const QuantTable *tb,
                            int16_t *zza, int16_t *zzb);
    ReadMcu convertGrey;
    ReadMcu convert555[2];  // [red first, blue first]
    ReadMcu convert24[2];
    ReadMcu convert32[2];
    SampleChroma sampleChroma[3];  // by sampling mode
};

const JpegKernels *BaselineKernels();
const JpegKernels *Sse41Kernels();  // null when not built or not supported here
const JpegKernels *Avx2Kernels();   // likewise
const JpegKernels *Avx512Kernels(); // likewise (AVX-512 F, BW and VL)
// The widest of the above, chosen on the first call.
const JpegKernels *ActiveKernels();

// ------------------------------------------------------------- pixels

ReadMcu SelectReader(uint16_t bitCount, uint8_t channelOrder);
SampleChroma SelectSampler(uint8_t sampling);

void SampleChroma420(uint8_t *mcuBuffer, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch);
void SampleChroma422(uint8_t *mcuBuffer, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch);
void SampleChroma444(uint8_t *mcuBuffer, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint32_t pitch);

// Reads the pixels of MCUs [firstColumn, firstColumn + count) of MCU row
// `mcuRow` into the strips, padded on the right and below as the MCUs
// require. Returns how many of those MCUs could be read; when fewer than
// `count`, the source ended inside the next one (the status word holds
// 0x0005 unless a grey row started at or beyond the source's end).
uint32_t ReadMcuRun(JpegEncodeContext *ctx, uint32_t mcuRow, uint32_t firstColumn, uint32_t count,
                    McuStrip *strip);

// ---------------------------------------------------------- transform

void ForwardDct(const uint8_t *samples, int32_t *coefficients);
// Builds the quantisation table(s) from the quality and writes DQT.
int WriteDqt(JpegEncodeContext *ctx, QuantTable tables[2]);
void BuildQuantTable(const uint8_t *baseWithId, uint8_t quality, QuantTable *table);
void SetQuantDivisor(QuantTable *table, int index, uint16_t divisor);
// Quantises 64 natural-order coefficients; the result is in zig-zag order.
void Quantize(const int32_t *coefficients, const QuantTable *table, int16_t *zz);

// ------------------------------------------------------------ entropy

void BuildHuffEncodeTable(const uint8_t *classAndId, HuffEncodeTable *table, uint32_t *consumed);
int EncodeBlock(JpegEncodeContext *ctx, JpegComponent *comp, const int16_t *zz);

// ------------------------------------------------------------ markers

int WriteApp0(JpegEncodeContext *ctx);
int WriteDht(JpegEncodeContext *ctx, HuffEncodeTable tables[4]);
int WriteSof0(JpegEncodeContext *ctx);
int WriteSos(JpegEncodeContext *ctx);

}  // namespace jpegcodec

#endif
