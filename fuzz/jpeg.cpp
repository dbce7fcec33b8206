// Fuzz target for the JPEG encoder: an arbitrary parameter record (small
// sizes) and raster. The source and the output each sit in a heap block of
// exactly their declared size, so AddressSanitizer reports any read past
// srcSize or write past dstSize. Also checks that the sizing pass and the
// writing pass agree and that dstSize outcomes follow the call's contract.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "jpegcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 16) return 0;
    JpegEncodeParams p;
    memset(&p, 0, sizeof p);
    // Header: width, height (kept small, zero allowed), bitCount choice,
    // quality, sampling, channelOrder, a source-size trim, an output trim,
    // the pass byte.
    p.width = (data[0] | (data[1] << 8)) % 80;
    p.height = (data[2] | (data[3] << 8)) % 80;
    static const uint16_t kBits[8] = {8, 16, 24, 32, 8, 24, 15, 0};
    p.bitCount = kBits[data[4] & 7];
    if (data[4] & 0x80) p.bitCount = static_cast<uint16_t>(data[5] | (data[6] << 8));
    p.quality = data[7];
    p.sampling = data[8] & 0x83;
    p.channelOrder = data[9];
    const uint32_t srcTrim = data[10] | (data[11] << 8);
    const uint32_t dstTrim = data[12] | (data[13] << 8);
    const uint32_t mode = data[14] | (static_cast<uint32_t>(data[15]) << 8);
    data += 16;
    size -= 16;

    // Source: the declared raster size minus a trim, filled from the input.
    const uint32_t stride = ((p.width * (p.bitCount & 63u) + 31) / 32) * 4;
    uint64_t full = static_cast<uint64_t>(stride) * p.height;
    if (full > (1u << 20)) full = 1u << 20;
    uint32_t srcSize = static_cast<uint32_t>(full);
    srcSize = srcTrim & 0x8000 ? srcSize - (srcTrim & 0x7FFF) % (srcSize + 1) : srcSize;
    uint8_t *srcBlock = static_cast<uint8_t *>(malloc(srcSize ? srcSize : 1));
    for (uint32_t i = 0; i < srcSize; ++i) srcBlock[i] = size ? data[i % size] : static_cast<uint8_t>(i);
    p.srcBuffer = srcSize ? srcBlock : nullptr;
    p.srcSize = srcSize;

    // The pass byte comes from the input for a few calls, else both passes.
    if ((mode & 0xF) == 0xF) {
        uint8_t *out = static_cast<uint8_t *>(malloc(64));
        p.dstBuffer = out;
        p.dstSize = 64;
        const uint16_t st = Jpeg_EncodeStart(&p, mode >> 4);
        if (st != 0 && (st & 0xF000) != 0x2000) abort();
        free(out);
        free(srcBlock);
        return 0;
    }

    // Now and then no source buffer but its size: nothing is readable, so
    // the call must fail rather than read through the null pointer.
    const bool noSource = (mode & 0x10) != 0 && srcSize != 0;
    if (noSource) p.srcBuffer = nullptr;

    p.dstSize = 0x12345678;
    const uint16_t sizing = Jpeg_EncodeStart(&p, JPEG_PASS_SIZE);
    if (noSource && sizing == 0) abort();
    if (sizing != 0) {
        if ((sizing & 0xF000) != 0x2000) abort();
        free(srcBlock);
        return 0;
    }
    const uint32_t sized = p.dstSize;
    if (sized < 100) abort();  // headers alone are longer
    uint32_t capacity = sized;
    if (dstTrim & 0x8000) capacity = sized - (dstTrim & 0x7FFF) % (sized + 1);
    uint8_t *out = static_cast<uint8_t *>(malloc(capacity ? capacity : 1));
    p.dstBuffer = out;
    p.dstSize = capacity;
    const uint16_t writing = Jpeg_EncodeStart(&p, JPEG_PASS_WRITE);
    if (capacity == sized) {
        if (writing != 0 || p.dstSize != sized) abort();
        if (out[0] != 0xFF || out[1] != 0xD8 || out[sized - 2] != 0xFF || out[sized - 1] != 0xD9) abort();
    } else {
        if (writing == 0 || p.dstSize != 0) abort();
    }
    free(out);
    free(srcBlock);
    return 0;
}
