// The export's contract: status words and dstSize after every kind of
// failure, the two passes agreeing on the length, the segment order, and
// calls on two threads at once.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <thread>

#include "TestImages.h"

using namespace jpegtest;

extern "C" unsigned CHeaderSizeGreySquare(unsigned *length);

namespace {

constexpr uint32_t kUntouched = 0x5A5A5A5A;

uint16_t Call(JpegEncodeParams p, uint32_t mode, uint32_t *dstSizeOut) {
    const uint16_t status = Jpeg_EncodeStart(&p, mode);
    *dstSizeOut = p.dstSize;
    return status;
}

TEST(EncodeCall, RejectedRecordsReturnOneValidationCodeAndLeaveDstSize) {
    const Raster r = MakeRaster(16, 16, 24, 0);
    struct Case {
        const char *what;
        void (*edit)(JpegEncodeParams &);
        uint16_t expected;
    };
    const Case cases[] = {
        {"width 0", [](JpegEncodeParams &p) { p.width = 0; }, 0x2030},
        {"height 0", [](JpegEncodeParams &p) { p.height = 0; }, 0x2030},
        {"width 65536", [](JpegEncodeParams &p) { p.width = 65536; }, 0x2030},
        {"height 70000", [](JpegEncodeParams &p) { p.height = 70000; }, 0x2030},
        {"quality 0", [](JpegEncodeParams &p) { p.quality = 0; }, 0x2F00},
        {"quality 101", [](JpegEncodeParams &p) { p.quality = 101; }, 0x2F00},
        {"sampling 3", [](JpegEncodeParams &p) { p.sampling = 3; }, 0x2F00},
        {"sampling 3 grey", [](JpegEncodeParams &p) { p.sampling = 3, p.bitCount = 8; }, 0x2F00},
        {"bitCount 15", [](JpegEncodeParams &p) { p.bitCount = 15; }, 0x21A0},
        {"bitCount 0", [](JpegEncodeParams &p) { p.bitCount = 0; }, 0x21A0},
        {"width before quality", [](JpegEncodeParams &p) { p.width = 0, p.quality = 0; }, 0x2030},
        {"quality before bitCount", [](JpegEncodeParams &p) { p.quality = 0, p.bitCount = 1; }, 0x2F00},
    };
    std::vector<uint8_t> out(4096);
    for (const Case &c : cases) {
        for (uint32_t mode : {0u, 1u, 7u}) {
            JpegEncodeParams p = r.Params(75, 0);
            p.dstBuffer = out.data();
            p.dstSize = kUntouched;
            c.edit(p);
            uint32_t dst = 0;
            EXPECT_EQ(Call(p, mode, &dst), c.expected) << c.what << " mode " << mode;
            EXPECT_EQ(dst, kUntouched) << c.what;
        }
    }
}

TEST(EncodeCall, PassByteIsTheLowByteOfModeAndOthersAreRejected) {
    const Raster r = MakeRaster(9, 9, 24, 0);
    uint32_t dst = 0;
    JpegEncodeParams p = r.Params(75, 0);
    p.dstSize = kUntouched;
    EXPECT_EQ(Call(p, 2, &dst), 0x2F00);
    EXPECT_EQ(dst, kUntouched);
    EXPECT_EQ(Call(p, 0xFF, &dst), 0x2F00);
    EXPECT_EQ(dst, kUntouched);
    uint32_t sized = 0;
    EXPECT_EQ(Call(p, 0, &sized), 0);
    EXPECT_EQ(Call(p, 0x100, &dst), 0) << "0x100 has low byte 0: the sizing pass";
    EXPECT_EQ(dst, sized);
    EXPECT_EQ(Call(p, 0xABCD0200, &dst), 0) << "low byte 0";
}

TEST(EncodeCall, HeaderServesCallersWrittenInC) {
    unsigned length = 0;
    EXPECT_EQ(CHeaderSizeGreySquare(&length), 0u);
    // SOI 2, APP0 18, DHT 212, DQT 69, SOF0 13, SOS 10, EOI 2, and the
    // entropy-coded data, which for grey is libjpeg-turbo's for the same
    // pixels (the C caller's 2 x 2 square, rows padded to four bytes).
    const uint8_t pixels[8] = {0, 255, 0, 0, 255, 0, 0, 0};
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(h, pixels, 2, 4, 2, TJPF_GRAY, &buf, &size, TJSAMP_GRAY, 75,
                          TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP),
              0);
    const ParsedJpeg theirs = Parse(std::vector<uint8_t>(buf, buf + size));
    tjFree(buf);
    tjDestroy(h);
    ASSERT_TRUE(theirs.ok);
    EXPECT_EQ(length, 2u + 18 + 212 + 69 + 13 + 10 + 2 + theirs.entropy.size());
}

TEST(EncodeCall, NullRecordIsRejected) { EXPECT_EQ(Jpeg_EncodeStart(nullptr, 0), 0x2F00); }

TEST(EncodeCall, SizingPassIgnoresDestinationAndMatchesWritingPass) {
    const Raster r = MakeRaster(33, 47, 32, 1);
    JpegEncodeParams p = r.Params(80, 1);
    p.dstBuffer = reinterpret_cast<uint8_t *>(0x10);  // never touched by the sizing pass
    p.dstSize = 3;
    ASSERT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_SIZE), 0);
    const uint32_t sized = p.dstSize;
    ASSERT_GT(sized, 600u);

    // Exactly the sized length, inside a larger buffer whose tail must stay.
    std::vector<uint8_t> out(sized + 16, 0xEE);
    p.dstBuffer = out.data();
    p.dstSize = sized;
    ASSERT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), 0);
    EXPECT_EQ(p.dstSize, sized);
    for (size_t i = sized; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "byte " << i << " written past dstSize";
    EXPECT_EQ(out[sized - 2], 0xFF);
    EXPECT_EQ(out[sized - 1], 0xD9);

    // One byte less: everything but the EOI marker fits.
    std::vector<uint8_t> shorter(sized - 1);
    p.dstBuffer = shorter.data();
    p.dstSize = sized - 1;
    EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), 0x2005);
    EXPECT_EQ(p.dstSize, 0u);
    EXPECT_TRUE(std::equal(shorter.begin(), shorter.end() - 1, out.begin()))
        << "bytes before the failing write stay in the buffer";

    // One byte: the SOI marker does not fit.
    uint8_t one[1] = {0};
    p.dstBuffer = one;
    p.dstSize = 1;
    EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), 0x2005);
    EXPECT_EQ(p.dstSize, 0u);

    // No buffer at all.
    p.dstBuffer = nullptr;
    p.dstSize = sized;
    EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), 0x2005);
    EXPECT_EQ(p.dstSize, 0u);
}

TEST(EncodeCall, OutputEndingInsideEachSegmentReportsThatSegment) {
    // Grey: SOI 2, APP0 18, DHT 212, DQT 69, SOF0 13, SOS 10, then data.
    const Raster grey = MakeRaster(40, 40, 8, 0);
    // Colour: SOI 2, APP0 18, DHT 420, DQT 134, SOF0 19, SOS 14.
    const Raster colour = MakeRaster(40, 40, 24, 0);
    struct Case {
        const Raster *r;
        uint32_t capacity;
        uint16_t expected;
    };
    const Case cases[] = {
        {&grey, 0, 0x2005},           {&grey, 3, 0x2095},           {&grey, 19, 0x2095},
        {&grey, 20, 0x2045},          {&grey, 231, 0x2045},         {&grey, 232, 0x2055},
        {&grey, 300, 0x2055},         {&grey, 301, 0x2075},         {&grey, 313, 0x2075},
        {&grey, 314, 0x2085},         {&grey, 323, 0x2085},         {&grey, 330, 0x2080},
        {&colour, 20, 0x2045},        {&colour, 439, 0x2045},       {&colour, 440, 0x2055},
        {&colour, 573, 0x2055},       {&colour, 574, 0x2075},       {&colour, 592, 0x2075},
        {&colour, 593, 0x2085},       {&colour, 606, 0x2085},       {&colour, 607, 0x2080},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> out(c.capacity + 1);
        JpegEncodeParams p = c.r->Params(75, 0);
        p.dstBuffer = out.data();
        p.dstSize = c.capacity;
        EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), c.expected)
            << "bitCount " << c.r->bitCount << " capacity " << c.capacity;
        EXPECT_EQ(p.dstSize, 0u);
    }
}

TEST(EncodeCall, EntropyDataNotFittingFailsWithScanCodeOnly) {
    const Raster r = MakeRaster(64, 64, 24, 0);
    JpegEncodeParams p = r.Params(95, 2);
    ASSERT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_SIZE), 0);
    const uint32_t sized = p.dstSize;
    // Every capacity from the end of the headers to just short of the
    // final flush fails while coding the blocks.
    for (uint32_t cap = 610; cap + 4 < sized; cap += 37) {
        std::vector<uint8_t> out(cap);
        p.dstBuffer = out.data();
        p.dstSize = cap;
        EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_WRITE), 0x2080) << cap;
        EXPECT_EQ(p.dstSize, 0u);
    }
}

TEST(EncodeCall, SourceOneByteShortFails) {
    for (uint16_t bits : {8, 16, 24, 32}) {
        Raster r = MakeRaster(21, 13, bits, 0);
        const uint32_t stride = Stride(21, bits);
        const uint32_t enough = 12 * stride + 21 * (bits / 8);  // the top row's padding is not needed
        JpegEncodeParams p = r.Params(75, 0);
        p.srcSize = enough;
        uint32_t dst = 0;
        EXPECT_EQ(Call(p, JPEG_PASS_SIZE, &dst), 0) << bits;
        p.srcSize = enough - 1;
        p.dstSize = kUntouched;
        EXPECT_EQ(Call(p, JPEG_PASS_SIZE, &dst), 0x2085) << bits;
        EXPECT_EQ(dst, 0u);
        // The top row starting beyond the source: grey reports no stream code.
        p.srcSize = 12 * stride;
        EXPECT_EQ(Call(p, JPEG_PASS_SIZE, &dst), bits == 8 ? 0x2080 : 0x2085) << bits;
        p.srcSize = 0;
        p.srcBuffer = nullptr;
        EXPECT_EQ(Call(p, JPEG_PASS_SIZE, &dst), bits == 8 ? 0x2080 : 0x2085) << bits;
        // No buffer but a size: nothing is readable, in either pass.
        p.srcSize = enough;
        EXPECT_EQ(Call(p, JPEG_PASS_SIZE, &dst), bits == 8 ? 0x2080 : 0x2085) << bits;
        std::vector<uint8_t> out(4096);
        p.dstBuffer = out.data();
        p.dstSize = static_cast<uint32_t>(out.size());
        EXPECT_EQ(Call(p, JPEG_PASS_WRITE, &dst), bits == 8 ? 0x2080 : 0x2085) << bits;
        EXPECT_EQ(dst, 0u);
    }
}

TEST(EncodeCall, RowsBeyondFourGigabytesAreNotWrappedIntoTheBuffer) {
    // 65535 rows of 65535 32-bit pixels lie far beyond any 32-bit offset:
    // the top row starts at 65534 * 262140 bytes, which wraps to a small
    // value in 32 bits. The call must fail instead of reading other rows.
    std::vector<uint8_t> small(1 << 20, 0x80);
    JpegEncodeParams p;
    std::memset(&p, 0, sizeof p);
    p.srcBuffer = small.data();
    p.srcSize = static_cast<uint32_t>(small.size());
    p.width = 65535;
    p.height = 65535;
    p.bitCount = 32;
    p.quality = 50;
    p.sampling = 2;
    EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_SIZE), 0x2085);
    EXPECT_EQ(p.dstSize, 0u);
    // Height chosen so that (height - 1) * stride is just above 2^32 and
    // wraps to a row offset inside the buffer.
    p.height = static_cast<uint32_t>((1ull << 32) / 262140 + 2);
    EXPECT_EQ(Jpeg_EncodeStart(&p, JPEG_PASS_SIZE), 0x2085);
}

TEST(EncodeCall, SegmentsComeInTheFixedOrder) {
    for (uint16_t bits : {8, 24}) {
        const Raster r = MakeRaster(17, 9, bits, 0);
        const std::vector<uint8_t> s = Encode(r, 75, 0);
        const ParsedJpeg j = Parse(s);
        ASSERT_TRUE(j.ok);
        std::vector<uint8_t> markers;
        for (const Segment &seg : j.segments) markers.push_back(seg.marker);
        EXPECT_EQ(markers, (std::vector<uint8_t>{0xD8, 0xE0, 0xC4, 0xDB, 0xC0, 0xDA}));
        EXPECT_EQ(j.trailer, (std::vector<uint8_t>{0xFF, 0xD9}));
        const std::vector<uint8_t> app0(s.begin() + 2, s.begin() + 20);
        EXPECT_EQ(app0, (std::vector<uint8_t>{0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01,
                                              0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
        EXPECT_EQ(j.segments[2].payload.size() + 4, bits == 8 ? 212u : 420u) << "DHT";
        EXPECT_EQ(j.segments[3].payload.size() + 2, bits == 8 ? 67u : 132u) << "DQT length";
    }
}

TEST(EncodeCall, FrameAndScanHeadersPerSampling) {
    const Raster colour = MakeRaster(300, 258, 24, 0);
    const uint8_t firstSampling[3] = {0x22, 0x21, 0x11};
    for (uint8_t sampling = 0; sampling < 3; ++sampling) {
        const ParsedJpeg j = Parse(Encode(colour, 75, sampling));
        ASSERT_TRUE(j.ok);
        EXPECT_EQ(j.segments[4].payload, (std::vector<uint8_t>{0x08, 0x01, 0x02, 0x01, 0x2C, 0x03, 0x01,
                                                               firstSampling[sampling], 0x00, 0x02, 0x11, 0x01,
                                                               0x03, 0x11, 0x01}));
        EXPECT_EQ(j.segments[5].payload,
                  (std::vector<uint8_t>{0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}));
    }
    const ParsedJpeg g = Parse(Encode(MakeRaster(3, 5, 8, 0), 75, 0));
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(g.segments[4].payload, (std::vector<uint8_t>{0x08, 0x00, 0x05, 0x00, 0x03, 0x01, 0x01, 0x11, 0x00}));
    EXPECT_EQ(g.segments[5].payload, (std::vector<uint8_t>{0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}));
}

TEST(EncodeCall, GreyIgnoresChannelOrderAndSampling) {
    Raster r = MakeRaster(37, 23, 8, 0);
    const std::vector<uint8_t> base = Encode(r, 60, 0);
    ASSERT_FALSE(base.empty());
    for (uint8_t order : {1, 2, 255}) {
        r.channelOrder = order;
        for (uint8_t sampling : {0, 1, 2}) EXPECT_EQ(Encode(r, 60, sampling), base);
    }
}

TEST(EncodeCall, ChannelOrdersDescribeTheSamePicture) {
    // The same scene stored red first and blue first encodes identically;
    // every value other than 1 means red first.
    for (uint16_t bits : {16, 24, 32}) {
        const Raster red = MakeRaster(29, 19, bits, 0);
        Raster blue = MakeRaster(29, 19, bits, 1);
        const std::vector<uint8_t> a = Encode(red, 75, 0);
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a, Encode(blue, 75, 0)) << bits;
        Raster red7 = red;
        red7.channelOrder = 7;
        EXPECT_EQ(a, Encode(red7, 75, 0)) << bits;
        EXPECT_NE(a, Encode(Raster(blue), 75, 1)) << "sampling changes the stream";
    }
}

TEST(EncodeCall, LongStreamsReportTheirLength) {
    const Raster r = MakeRaster(600, 400, 24, 0, 9);
    uint32_t sized = 0;
    const std::vector<uint8_t> s = Encode(r, 100, 2, nullptr, nullptr, &sized);
    ASSERT_FALSE(s.empty());
    EXPECT_GT(sized, 65536u);
    EXPECT_EQ(s.size(), sized);
}

TEST(EncodeCall, TwoThreadsEncodeIndependently) {
    const Raster a = MakeRaster(120, 90, 24, 0, 3);
    const Raster b = MakeRaster(77, 51, 8, 0, 4);
    const std::vector<uint8_t> wantA = Encode(a, 85, 0);
    const std::vector<uint8_t> wantB = Encode(b, 40, 0);
    ASSERT_FALSE(wantA.empty());
    ASSERT_FALSE(wantB.empty());
    int badA = 0, badB = 0, badStatus = 0;
    std::thread ta([&] {
        for (int i = 0; i < 40; ++i) {
            if (Encode(a, 85, 0) != wantA) ++badA;
            // Failures on this thread must not leak codes into the other.
            JpegEncodeParams p = a.Params(85, 0);
            uint8_t tiny[30];
            p.dstBuffer = tiny;
            p.dstSize = sizeof tiny;
            if (Jpeg_EncodeStart(&p, JPEG_PASS_WRITE) != 0x2045) ++badStatus;
        }
    });
    std::thread tb([&] {
        for (int i = 0; i < 40; ++i)
            if (Encode(b, 40, 0) != wantB) ++badB;
    });
    ta.join();
    tb.join();
    EXPECT_EQ(badA, 0);
    EXPECT_EQ(badB, 0);
    EXPECT_EQ(badStatus, 0);
}

}  // namespace
