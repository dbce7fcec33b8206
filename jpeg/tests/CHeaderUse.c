/* The public header compiled as C: the record, the constants and a call. */
#include <string.h>

#include "jpegcodec.h"

/* Encodes a 2 x 2 grey raster through the C view of the interface and
 * returns the sizing pass's status, or 0xFFFF when the record's fields do
 * not sit where the interface says. */
unsigned CHeaderSizeGreySquare(unsigned *length) {
    static const uint8_t pixels[8] = {0, 255, 0, 0, 255, 0, 0, 0};
    JpegEncodeParams p;
    memset(&p, 0, sizeof p);
    if (offsetof(JpegEncodeParams, bitCount) + 2 != offsetof(JpegEncodeParams, quality) ||
        offsetof(JpegEncodeParams, quality) + 1 != offsetof(JpegEncodeParams, sampling) ||
        offsetof(JpegEncodeParams, sampling) + 1 != offsetof(JpegEncodeParams, channelOrder))
        return 0xFFFF;
    p.srcBuffer = pixels;
    p.srcSize = sizeof pixels;
    p.width = 2;
    p.height = 2;
    p.bitCount = 8;
    p.quality = 75;
    p.sampling = JPEG_SAMPLING_420;
    {
        const uint16_t status = Jpeg_EncodeStart(&p, JPEG_PASS_SIZE);
        *length = p.dstSize;
        return status;
    }
}
