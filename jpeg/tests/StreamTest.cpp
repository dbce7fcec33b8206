// Byte streams: bound checks, byte order, bit packing with padding and
// stuffing, and the counting variant agreeing with the memory variant.
#include <gtest/gtest.h>

#include "JpegInternal.h"

using namespace jpegcodec;

namespace {

TEST(Stream, MemoryStreamRefusesTheByteAfterItsEnd) {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[3] = {0, 0, 0x77};
    JpegStream s;
    MakeMemoryStream(&s, buf, buf, 2, &status);
    s.ops->setWriteOrder(&s, 0);
    EXPECT_EQ(s.ops->writeWord(&s, 0xFFD8), 1);
    EXPECT_EQ(buf[0], 0xFF);
    EXPECT_EQ(buf[1], 0xD8);
    EXPECT_EQ(status, JPEG_STATUS_BASE);
    EXPECT_EQ(s.ops->writeByte(&s, 0x12), 0);
    EXPECT_EQ(status, JPEG_STATUS_BASE | JPEG_ERR_STREAM);
    EXPECT_EQ(buf[2], 0x77) << "nothing stored past the limit";
    EXPECT_EQ(s.ops->tell(&s), 2u);
}

TEST(Stream, WordsAndDwordsFollowTheChosenOrder) {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[12] = {};
    JpegStream s;
    MakeMemoryStream(&s, buf, buf, sizeof buf, &status);
    s.ops->writeWord(&s, 0x1234);  // a new stream writes least significant first
    s.ops->setWriteOrder(&s, 0);
    s.ops->writeWord(&s, 0x1234);
    s.ops->writeDword(&s, 0xA1B2C3D4);
    s.ops->setWriteOrder(&s, 1);
    s.ops->writeDword(&s, 0xA1B2C3D4);
    const uint8_t want[12] = {0x34, 0x12, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(0, memcmp(buf, want, 12));

    // Reads honour the read order and the limit.
    JpegStream r;
    MakeMemoryStream(&r, want, nullptr, 6, &status);
    uint16_t w = 0;
    uint32_t d = 0;
    EXPECT_EQ(r.ops->readWord(&r, &w), 1);
    EXPECT_EQ(w, 0x1234);
    r.ops->setReadOrder(&r, 0);
    EXPECT_EQ(r.ops->readWord(&r, &w), 1);
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(status, JPEG_STATUS_BASE);
    EXPECT_EQ(r.ops->readDword(&r, &d), 0) << "only 2 bytes left";
    EXPECT_EQ(status, JPEG_STATUS_BASE | JPEG_ERR_STREAM);
    uint8_t b = 0;
    EXPECT_EQ(r.ops->readByte(&r, &b), 1);
    EXPECT_EQ(b, 0xA1);
}

TEST(Stream, FlushPadsWithOnesAndStuffsACompleteFF) {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[4] = {};
    JpegStream s;
    MakeMemoryStream(&s, buf, buf, sizeof buf, &status);
    EXPECT_EQ(s.ops->flushBits(&s), 1) << "nothing pending: nothing stored";
    EXPECT_EQ(s.position, 0u);
    s.ops->writeBit(&s, 1);
    s.ops->writeBit(&s, 0);
    s.ops->writeBit(&s, 1);
    EXPECT_EQ(s.ops->flushBits(&s), 1);
    EXPECT_EQ(buf[0], 0xBF);
    EXPECT_EQ(s.ops->writeBits(&s, 7, 0x7F), 1);
    EXPECT_EQ(s.ops->flushBits(&s), 1);
    EXPECT_EQ(buf[1], 0xFF);
    EXPECT_EQ(buf[2], 0x00);
    EXPECT_EQ(s.position, 3u);
    EXPECT_EQ(s.bitCount, 0u);
}

TEST(Stream, FlushAfterZeroBitsSetsEveryUnusedBit) {
    // After 1 to 7 zero bits the flushed byte carries ones in the rest.
    const uint8_t expected[8] = {0, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    for (uint32_t count = 1; count < 8; ++count) {
        uint16_t status = JPEG_STATUS_BASE;
        uint8_t buf[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        JpegStream m, c;
        MakeMemoryStream(&m, buf, buf, sizeof buf, &status);
        MakeCountingStream(&c, &status);
        for (JpegStream *s : {&m, &c}) {
            ASSERT_EQ(s->ops->writeBits(s, count, 0), 1);
            ASSERT_EQ(s->ops->flushBits(s), 1);
        }
        EXPECT_EQ(buf[0], expected[count]) << count;
        EXPECT_EQ(m.position, 1u) << count;
        EXPECT_EQ(c.limit, 1u) << count;
        EXPECT_EQ(status, JPEG_STATUS_BASE);
    }
}

TEST(Stream, CountingStreamCountsWhatTheMemoryStreamStores) {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[64] = {};
    JpegStream m, c;
    MakeMemoryStream(&m, buf, buf, sizeof buf, &status);
    MakeCountingStream(&c, &status);
    // A bit pattern with complete 0xFF bytes at odd bit offsets.
    const uint16_t values[] = {0x1FF, 0xFFFF, 0x3, 0x7FF, 0x0, 0xFF, 0x1};
    const uint32_t lengths[] = {9, 16, 2, 11, 3, 8, 1};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(m.ops->writeBits(&m, lengths[i], values[i]), 1);
        EXPECT_EQ(c.ops->writeBits(&c, lengths[i], values[i]), 1);
        EXPECT_EQ(m.position, c.position) << i;
    }
    m.ops->flushBits(&m);
    c.ops->flushBits(&c);
    m.ops->writeWord(&m, 0xFFD9);
    c.ops->writeWord(&c, 0xFFD9);
    EXPECT_EQ(m.position, c.position);
    EXPECT_EQ(c.limit, c.position) << "high-water mark";
    uint8_t b = 0;
    EXPECT_EQ(c.ops->readByte(&c, &b), 0);
    EXPECT_EQ(status, JPEG_STATUS_BASE) << "no write failed";
}

TEST(Stream, ByteWriteWithPendingBitsIsAProgrammingError) {
    // The encoder flushes before every marker. In debug builds a byte write
    // with bits pending stops at an assertion; release builds store the
    // partial byte unpadded ahead of the byte.
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[4] = {};
    JpegStream s;
    MakeMemoryStream(&s, buf, buf, sizeof buf, &status);
    s.ops->writeBit(&s, 1);
#ifndef NDEBUG
    EXPECT_DEATH(s.ops->writeByte(&s, 0x42), "pending bits");
#else
    EXPECT_EQ(s.ops->writeByte(&s, 0x42), 1);
    EXPECT_EQ(buf[0], 0x80);
    EXPECT_EQ(buf[1], 0x42);
    EXPECT_EQ(s.position, 2u);
#endif
}

TEST(Stream, ReadBitConsumesStuffedZeros) {
    uint16_t status = JPEG_STATUS_BASE;
    const uint8_t data[] = {0xFF, 0x00, 0x80, 0xFF, 0x12};
    JpegStream s;
    MakeMemoryStream(&s, data, nullptr, sizeof data, &status);
    uint8_t bit = 0;
    int ones = 0;
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(s.ops->readBit(&s, &bit), 1);
        ones += bit;
    }
    EXPECT_EQ(ones, 8);
    ASSERT_EQ(s.ops->readBit(&s, &bit), 1);
    EXPECT_EQ(bit, 1);
    EXPECT_EQ(s.position, 3u) << "the stuffed zero was consumed";
    for (int i = 0; i < 7; ++i) ASSERT_EQ(s.ops->readBit(&s, &bit), 1);
    EXPECT_EQ(s.ops->readBit(&s, &bit), 0) << "0xFF followed by 0x12";
}

TEST(Stream, SeekStaysInsideTheBuffer) {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[10] = {};
    JpegStream s;
    MakeMemoryStream(&s, buf, buf, sizeof buf, &status);
    EXPECT_EQ(s.ops->seek(&s, 4, 0), 1);
    EXPECT_EQ(s.ops->seek(&s, 3, 1), 1);
    EXPECT_EQ(s.position, 7u);
    EXPECT_EQ(s.ops->seek(&s, -1, 2), 1);
    EXPECT_EQ(s.position, 9u);
    EXPECT_EQ(s.ops->seek(&s, 0, 2), 0) << "the end itself is not a position to read from";
    EXPECT_EQ(s.ops->seek(&s, 10, 0), 0);
    EXPECT_EQ(s.ops->seek(&s, 0, 5), 0);
    EXPECT_EQ(s.position, 9u);
}

}  // namespace
