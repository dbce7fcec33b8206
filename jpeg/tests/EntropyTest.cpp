// Huffman tables and block coding: the codes of the standard tables, the
// end-of-block rule, runs of zeros, and the two passes counting alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "JpegInternal.h"

using namespace jpegcodec;

namespace {

// A one-component context whose sink is a memory stream of `capacity`.
struct BlockCoder {
    uint16_t status = JPEG_STATUS_BASE;
    uint8_t buf[2048];
    JpegStream sink;
    HuffEncodeTable tables[4];
    JpegEncodeContext ctx;
    JpegComponent comp;

    explicit BlockCoder(bool writing, uint32_t capacity = sizeof(buf)) {
        memset(buf, 0xEE, sizeof buf);
        if (writing)
            MakeMemoryStream(&sink, nullptr, buf, capacity, &status);
        else
            MakeCountingStream(&sink, &status);
        memset(&ctx, 0, sizeof ctx);
        ctx.passTag = writing ? 3 : 2;
        ctx.sink = &sink;
        ctx.status = &status;
        uint32_t used = 0, at = 0;
        for (int t = 0; t < 4; ++t, at += used) BuildHuffEncodeTable(kStandardTables + at, &tables[t], &used);
        memset(&comp, 0, sizeof comp);
        comp.dcTable = &tables[0];
        comp.acTable = &tables[1];
    }

    // All bits written so far, pending ones included, as a '0'/'1' string
    // with stuffed zeros removed.
    std::string Bits() const {
        std::string s;
        for (uint32_t i = 0; i < sink.position; ++i) {
            for (int b = 7; b >= 0; --b) s += ((buf[i] >> b) & 1) ? '1' : '0';
            if (buf[i] == 0xFF) ++i;
        }
        for (uint32_t b = 0; b < sink.bitCount; ++b) s += ((sink.bitBuffer >> (7 - b)) & 1) ? '1' : '0';
        return s;
    }
};

std::string CodeOf(const HuffEncodeTable &t, int symbol) {
    std::string s;
    for (int b = t.ehufsi[symbol] - 1; b >= 0; --b) s += ((t.ehufco[symbol] >> b) & 1) ? '1' : '0';
    return s;
}

TEST(Entropy, StandardTablesGiveTheAnnexKCodes) {
    BlockCoder c(true);
    EXPECT_EQ(CodeOf(c.tables[0], 0), "00");
    EXPECT_EQ(CodeOf(c.tables[0], 1), "010");
    EXPECT_EQ(CodeOf(c.tables[0], 11), "111111110");
    EXPECT_EQ(CodeOf(c.tables[1], 0x00), "1010");
    EXPECT_EQ(CodeOf(c.tables[1], 0x01), "00");
    EXPECT_EQ(CodeOf(c.tables[1], 0x11), "1100");
    EXPECT_EQ(CodeOf(c.tables[1], 0xF0), "11111111001");
    EXPECT_EQ(CodeOf(c.tables[1], 0xFA), "1111111111111110");
    EXPECT_EQ(CodeOf(c.tables[2], 0), "00");
    EXPECT_EQ(CodeOf(c.tables[2], 11), "11111111110");
    EXPECT_EQ(CodeOf(c.tables[3], 0x00), "00");
    EXPECT_EQ(CodeOf(c.tables[3], 0xF0), "1111111010");
    EXPECT_EQ(c.tables[1].id, 0);
    EXPECT_EQ(c.tables[3].id, 1);
}

TEST(Entropy, BlocksCodeAsTheBaselineRulesSay) {
    struct Case {
        const char *what;
        int16_t dcPred;
        std::initializer_list<std::pair<int, int>> coefficients;  // zig-zag position, value
        std::string bits;
    };
    const Case cases[] = {
        {"empty block, DC equal to predictor", 5, {{0, 5}}, "00" "1010"},
        {"DC difference -1", 0, {{0, -1}}, "010" "0" "1010"},
        {"DC difference +1", 0, {{0, 1}}, "010" "1" "1010"},
        {"DC difference -3", 0, {{0, -3}}, "011" "00" "1010"},
        {"sixteen zeros then 1", 0, {{17, 1}}, "00" "11111111001" "00" "1" "1010"},
        {"seventeen zeros then 1", 0, {{18, 1}}, "00" "11111111001" "1100" "1" "1010"},
    };
    for (const Case &k : cases) {
        BlockCoder c(true);
        int16_t zz[64] = {};
        for (const auto &[pos, value] : k.coefficients) zz[pos] = static_cast<int16_t>(value);
        c.comp.dcPred = k.dcPred;
        ASSERT_EQ(EncodeBlock(&c.ctx, &c.comp, zz), 1) << k.what;
        EXPECT_EQ(c.Bits(), k.bits) << k.what;
        EXPECT_EQ(c.comp.dcPred, zz[0]) << k.what;
    }
    // 62 zeros then -1 at the last position: three runs of sixteen, the
    // symbol for 14 zeros and size 1, its bit, and no end of block.
    BlockCoder c(true);
    int16_t zz[64] = {};
    zz[63] = -1;
    ASSERT_EQ(EncodeBlock(&c.ctx, &c.comp, zz), 1);
    const std::string zrl = "11111111001";
    EXPECT_EQ(c.Bits(), "00" + zrl + zrl + zrl + CodeOf(c.tables[1], 0xE1) + "0");
    EXPECT_EQ(CodeOf(c.tables[1], 0xE1).size(), 16u);
}

TEST(Entropy, CompletedFFIsStuffedAndCountedTwice) {
    // Eight DC blocks of size-11 differences push 0xFF bytes through.
    BlockCoder w(true), s(false);
    w.comp.dcTable = &w.tables[0];
    s.comp.dcTable = &s.tables[0];
    int16_t zz[64] = {};
    int stuffed = 0;
    for (int i = 0; i < 40; ++i) {
        zz[0] = static_cast<int16_t>(i % 2 ? -1023 : 1023);
        zz[63] = static_cast<int16_t>(i % 3 ? 0 : -511);
        ASSERT_EQ(EncodeBlock(&w.ctx, &w.comp, zz), 1);
        ASSERT_EQ(EncodeBlock(&s.ctx, &s.comp, zz), 1);
        ASSERT_EQ(w.sink.position, s.sink.position) << i;
        ASSERT_EQ(w.sink.bitCount, s.sink.bitCount);
        ASSERT_EQ(w.sink.bitBuffer, s.sink.bitBuffer);
    }
    for (uint32_t i = 0; i + 1 < w.sink.position; ++i)
        if (w.buf[i] == 0xFF) {
            EXPECT_EQ(w.buf[i + 1], 0x00);
            ++stuffed, ++i;
        }
    EXPECT_GT(stuffed, 0);
    EXPECT_EQ(s.sink.limit, s.sink.position);
}

TEST(Entropy, PiecesThatDoNotFitFailWithoutAStreamCode) {
    int16_t zz[64];
    for (int k = 0; k < 64; ++k) zz[k] = static_cast<int16_t>(k % 2 ? 300 : -5);
    BlockCoder full(true);
    ASSERT_EQ(EncodeBlock(&full.ctx, &full.comp, zz), 1);
    const uint32_t need = full.sink.position;
    for (uint32_t cap = 0; cap < need; ++cap) {
        BlockCoder c(true, cap);
        EXPECT_EQ(EncodeBlock(&c.ctx, &c.comp, zz), 0) << cap;
        EXPECT_EQ(c.status, JPEG_STATUS_BASE);
        for (uint32_t i = cap; i < sizeof c.buf; ++i) ASSERT_EQ(c.buf[i], 0xEE) << "stored past capacity " << cap;
    }
    BlockCoder exact(true, need);
    EXPECT_EQ(EncodeBlock(&exact.ctx, &exact.comp, zz), 1);
    EXPECT_EQ(0, memcmp(exact.buf, full.buf, need));
}

}  // namespace
