/*
 * jpegcodec: baseline JPEG encoder of the Windows driver.
 *
 * One call compresses one uncompressed bottom-up raster held in memory
 * (8-bit grey, 16-bit 5-5-5, 24-bit or 32-bit colour) into a complete JFIF
 * stream in a buffer the caller provides. The sizing pass (JPEG_PASS_SIZE)
 * writes nothing and reports the stream length in dstSize; the writing pass
 * (JPEG_PASS_WRITE) writes the stream and reports how many bytes it wrote.
 *
 * The encoder allocates nothing, keeps nothing between calls and may be
 * called from several threads at once.
 */
#ifndef JPEGCODEC_H
#define JPEGCODEC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define JPEGCODEC_CALL __stdcall
#else
#define JPEGCODEC_CALL
#endif

#if defined(_WIN32)
#define JPEGCODEC_EXPORT
#elif defined(__GNUC__)
#define JPEGCODEC_EXPORT __attribute__((visibility("default")))
#else
#define JPEGCODEC_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The pass byte, the second argument of Jpeg_EncodeStart. */
#define JPEG_PASS_SIZE 0u
#define JPEG_PASS_WRITE 1u

/* The status word: JPEG_STATUS_BASE with the failure codes OR-ed in. The
 * codes share bits; they are values, not independent flags. */
#define JPEG_STATUS_BASE 0x2000u
#define JPEG_ERR_DIMENSION 0x0030u /* width or height 0 or above 65535 */
#define JPEG_ERR_ARGUMENT 0x0F00u  /* quality, sampling or pass byte */
#define JPEG_ERR_BITCOUNT 0x01A0u  /* bitCount not 8, 16, 24 or 32 */
#define JPEG_ERR_STREAM 0x0005u    /* source row or output byte past its buffer */
#define JPEG_ERR_APP0 0x0090u
#define JPEG_ERR_DHT 0x0040u
#define JPEG_ERR_DQT 0x0050u
#define JPEG_ERR_SOF 0x0070u
#define JPEG_ERR_SCAN 0x0080u

/* Sampling modes (colour only; validated for every bitCount). */
#define JPEG_SAMPLING_420 0u
#define JPEG_SAMPLING_422 1u
#define JPEG_SAMPLING_444 2u

/* channelOrder 1: blue in the first byte (or the low bits of a 16-bit
 * pixel); any other value: red first. */
#define JPEG_CHANNEL_BLUE_FIRST 1u

/* The parameter record. Its layout is shared with code outside this
 * library: on a 32-bit target the offsets are 0, 4, 8, 12, 16, 20, 24, 28,
 * 30, 31 and 32. The source row stride is ((width * bitCount + 31) / 32) * 4
 * bytes; srcBuffer points at the bottom image row. */
typedef struct JpegEncodeParams {
    const uint8_t *srcBuffer; /* bottom row first */
    uint32_t srcSize;         /* bytes readable at srcBuffer */
    uint8_t *dstBuffer;       /* read only by the writing pass */
    uint32_t dstSize;         /* in: capacity; out: stream length */
    uint32_t width;           /* 1 to 65535 */
    uint32_t height;          /* 1 to 65535 */
    uint8_t reserved[4];      /* not read */
    uint16_t bitCount;        /* 8, 16, 24 or 32 */
    uint8_t quality;          /* 1 to 100 */
    uint8_t sampling;         /* JPEG_SAMPLING_* */
    uint8_t channelOrder;     /* JPEG_CHANNEL_BLUE_FIRST or red first */
} JpegEncodeParams;

#if defined(__cplusplus)
#define JPEGCODEC_STATIC_ASSERT(c, m) static_assert(c, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define JPEGCODEC_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#if defined(JPEGCODEC_STATIC_ASSERT) && (UINTPTR_MAX == 0xFFFFFFFFu)
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, srcBuffer) == 0, "srcBuffer at 0");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, srcSize) == 4, "srcSize at 4");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, dstBuffer) == 8, "dstBuffer at 8");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, dstSize) == 12, "dstSize at 12");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, width) == 16, "width at 16");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, height) == 20, "height at 20");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, reserved) == 24, "reserved at 24");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, bitCount) == 28, "bitCount at 28");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, quality) == 30, "quality at 30");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, sampling) == 31, "sampling at 31");
JPEGCODEC_STATIC_ASSERT(offsetof(JpegEncodeParams, channelOrder) == 32, "channelOrder at 32");
#endif

/* Runs one pass over the record. Only the low byte of mode is examined.
 * Returns 0 on success (dstSize then holds the stream length), else the
 * status word; dstSize is 0 after a failed pass and unchanged after a
 * rejected record or pass byte. */
JPEGCODEC_EXPORT uint16_t JPEGCODEC_CALL Jpeg_EncodeStart(JpegEncodeParams *params, uint32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* JPEGCODEC_H */
