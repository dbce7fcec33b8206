// The library's one export: validates the parameter record, runs the sizing
// or the writing pass, and ties the stages together: SOI, APP0, DHT, DQT,
// SOF0, SOS, the interleaved MCUs of the one scan, EOI. Everything a call
// needs lives in its own frames; nothing is allocated or kept.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

namespace {

constexpr uint32_t kMaxDimension = 65535;

// Validates the record in the order the status codes are defined; returns 1
// and fills the settings, or 0 with one validation code in the status word.
int Validate(const JpegEncodeParams *p, uint16_t *status, EncodeSettings *settings) {
    // The frame header holds 16-bit dimensions; larger values are refused
    // rather than coded as a frame that disagrees with its data.
    if (p->width == 0 || p->height == 0 || p->width > kMaxDimension || p->height > kMaxDimension) {
        *status |= JPEG_ERR_DIMENSION;
        return 0;
    }
    if (p->quality == 0 || p->quality > 100 || p->sampling > 2) {
        *status |= JPEG_ERR_ARGUMENT;
        return 0;
    }
    const ReadMcu reader = SelectReader(p->bitCount, p->channelOrder);
    if (reader == nullptr) {
        *status |= JPEG_ERR_BITCOUNT;
        return 0;
    }
    settings->quality = p->quality;
    settings->sampling = p->sampling;
    settings->restartInterval = 0;
    settings->passTag = 0;
    settings->bytesPerPixel = static_cast<uint8_t>(p->bitCount / 8);
    settings->readMcu = reader;
    settings->encodeBlock = EncodeBlock;
    return 1;
}

// The MCU loop of the single interleaved scan.
int EncodeScan(JpegEncodeContext *ctx) {
    ctx->mcusPerRow = static_cast<uint16_t>((ctx->frameWidth + ctx->mcuWidth - 1) / ctx->mcuWidth);
    const uint32_t mcuRows = (ctx->frameHeight + ctx->mcuHeight - 1u) / ctx->mcuHeight;
    ctx->mcuCount = mcuRows * ctx->mcusPerRow;
    ctx->mcusDone = 0;
    for (int c = 0; c < 3; ++c) ctx->components[c].dcPred = 0;
    ctx->sink->bitBuffer = 0;
    ctx->sink->bitCount = 0;

    McuStrip strip;
    alignas(16) uint8_t mcu[512];
    alignas(32) int16_t quantised[6][64];
    const uint32_t runLength = kStripWidth / ctx->mcuWidth;
    const JpegKernels *kernels = ActiveKernels();
    const bool colour = ctx->componentCount == 3;
    // The component and table of each block in coding order. An MCU of an
    // odd number of blocks (grey, 4:4:4) goes with the next one where the
    // run holds it, so that the blocks pair up for the transform.
    const QuantTable *tables[6];
    JpegComponent *owners[6];
    int mcuBlocks = 0;
    for (int c = 0; c < ctx->componentCount; ++c)
        for (int b = 0; b < ctx->components[c].hSamp * ctx->components[c].vSamp; ++b, ++mcuBlocks) {
            owners[mcuBlocks] = &ctx->components[c];
            tables[mcuBlocks] = ctx->components[c].quantTable;
        }
    const uint32_t group = mcuBlocks % 2 == 1 ? 2 : 1;
    if (group == 2)
        for (int b = mcuBlocks; b < 2 * mcuBlocks; ++b) owners[b] = owners[b - mcuBlocks], tables[b] = tables[b - mcuBlocks];

    for (uint32_t row = 0; row < mcuRows; ++row) {
        for (uint32_t column = 0; column < ctx->mcusPerRow; column += runLength) {
            const uint32_t wanted = ctx->mcusPerRow - column < runLength ? ctx->mcusPerRow - column : runLength;
            const uint32_t got = ReadMcuRun(ctx, row, column, wanted, &strip);
            for (uint32_t j = 0; j < got;) {
                const uint32_t mcus = j + group <= got ? group : 1;
                const int blocks = mcuBlocks * static_cast<int>(mcus);
                for (uint32_t k = 0; k < mcus; ++k) {
                    const uint32_t x = (j + k) * ctx->mcuWidth;
                    uint8_t *at = mcu + 64 * mcuBlocks * k;
                    if (colour)
                        ctx->sampleChroma(at, strip.y + x, strip.cb + x, strip.cr + x, kStripWidth);
                    else
                        for (int i = 0; i < 8; ++i) memcpy(at + 8 * i, strip.y + i * kStripWidth + x, 8);
                }
                int b = 0;
                for (; b + 1 < blocks; b += 2)
                    kernels->dctQuantizePair(mcu + 64 * b, mcu + 64 * (b + 1), tables[b], tables[b + 1],
                                             quantised[b], quantised[b + 1]);
                if (b < blocks) kernels->dctQuantize(mcu + 64 * b, tables[b], quantised[b]);
                for (b = 0; b < blocks; ++b)
                    if (!ctx->encodeBlock(ctx, owners[b], quantised[b])) return 0;
                ctx->mcusDone += mcus;
                j += mcus;
            }
            if (got < wanted) return 0;
        }
    }
    return ctx->sink->ops->flushBits(ctx->sink);
}

// One pass over the image into the given sink; 1 on success.
int RunJob(const JpegEncodeParams *p, const EncodeSettings *settings, JpegStream *source, JpegStream *sink,
           uint16_t *status) {
    JpegEncodeContext ctx;
    memset(&ctx, 0, sizeof ctx);
    ctx.quality = settings->quality;
    ctx.restartInterval = settings->restartInterval;
    ctx.passTag = settings->passTag;
    ctx.readMcu = settings->readMcu;
    ctx.encodeBlock = settings->encodeBlock;
    ctx.bytesPerPixel = settings->bytesPerPixel;
    ctx.source = source;
    ctx.sink = sink;
    ctx.status = status;
    source->ops->setReadOrder(source, 1);
    sink->ops->setWriteOrder(sink, 0);
    ctx.srcOrigin = source->ops->tell(source);
    ctx.width = p->width;
    ctx.height = p->height;
    ctx.frameWidth = static_cast<uint16_t>(p->width);
    ctx.frameHeight = static_cast<uint16_t>(p->height);
    if (p->bitCount == 8) {
        ctx.componentCount = 1;
        ctx.mcuWidth = ctx.mcuHeight = 8;
        ctx.sampleChroma = nullptr;
    } else {
        ctx.componentCount = 3;
        ctx.mcuWidth = settings->sampling == JPEG_SAMPLING_444 ? 8 : 16;
        ctx.mcuHeight = settings->sampling == JPEG_SAMPLING_420 ? 16 : 8;
        ctx.sampleChroma = SelectSampler(settings->sampling);
    }
    ctx.rowStride = ((p->width * p->bitCount + 31) / 32) * 4;

    ctx.components[0].hSamp = static_cast<uint8_t>(ctx.mcuWidth / 8);
    ctx.components[0].vSamp = static_cast<uint8_t>(ctx.mcuHeight / 8);
    for (int c = 1; c < 3; ++c) ctx.components[c].hSamp = ctx.components[c].vSamp = 1;

    HuffEncodeTable huffman[4];
    QuantTable quant[2];
    const JpegStreamOps *op = sink->ops;
    if (!op->writeWord(sink, 0xFFD8)) return 0;
    if (!WriteApp0(&ctx)) return *status |= JPEG_ERR_APP0, 0;
    if (!WriteDht(&ctx, huffman)) return *status |= JPEG_ERR_DHT, 0;
    if (!WriteDqt(&ctx, quant)) return *status |= JPEG_ERR_DQT, 0;
    if (!WriteSof0(&ctx)) return *status |= JPEG_ERR_SOF, 0;
    if (!WriteSos(&ctx) || !EncodeScan(&ctx)) return *status |= JPEG_ERR_SCAN, 0;
    return op->writeWord(sink, 0xFFD9);
}

}  // namespace

}  // namespace jpegcodec

extern "C" JPEGCODEC_EXPORT uint16_t JPEGCODEC_CALL Jpeg_EncodeStart(JpegEncodeParams *params, uint32_t mode) {
    using namespace jpegcodec;
    uint16_t status = JPEG_STATUS_BASE;
    EncodeSettings settings;
    if (params == nullptr) return status | JPEG_ERR_ARGUMENT;
    if (!Validate(params, &status, &settings)) return status;

    const uint8_t pass = static_cast<uint8_t>(mode & 0xFF);
    if (pass != JPEG_PASS_SIZE && pass != JPEG_PASS_WRITE) return status | JPEG_ERR_ARGUMENT;

    JpegStream source, sink;
    // A missing source holds no bytes whatever its stated size: the first
    // row an MCU needs then lies beyond it, as with a source too short.
    MakeMemoryStream(&source, params->srcBuffer, nullptr, params->srcBuffer ? params->srcSize : 0, &status);
    uint32_t result = 0;
    if (pass == JPEG_PASS_SIZE) {
        MakeCountingStream(&sink, &status);
        settings.passTag = 2;
        if (RunJob(params, &settings, &source, &sink, &status)) result = sink.limit;
    } else {
        MakeMemoryStream(&sink, nullptr, params->dstBuffer, params->dstBuffer ? params->dstSize : 0, &status);
        settings.passTag = 3;
        if (RunJob(params, &settings, &source, &sink, &status)) result = sink.position;
    }
    params->dstSize = result;
    return result != 0 ? 0 : status;
}
