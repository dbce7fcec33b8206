// The streams against libjpeg-turbo: they decode, the decoded pictures are
// close to the sources, the tables equal the ones libjpeg-turbo sends, grey
// images code to exactly libjpeg-turbo's own entropy-coded data, and colour
// images to exactly what libjpeg-turbo codes from the same component planes
// and quantisation tables.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <map>

#include <jpeglib.h>

#include "JpegInternal.h"
#include "TestImages.h"

using namespace jpegtest;

namespace {

struct Decoded {
    bool ok = false;
    int width = 0, height = 0, subsamp = -1;
    std::vector<uint8_t> pixels;  // top-down RGB or grey
};

Decoded Decode(const std::vector<uint8_t> &jpeg, bool grey) {
    Decoded d;
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, ss = 0, cs = 0;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &ht, &ss, &cs) == 0) {
        d.pixels.resize(static_cast<size_t>(w) * ht * (grey ? 1 : 3));
        d.ok = tjDecompress2(h, jpeg.data(), jpeg.size(), d.pixels.data(), w, 0, ht, grey ? TJPF_GRAY : TJPF_RGB,
                             TJFLAG_ACCURATEDCT) == 0;
        d.width = w;
        d.height = ht;
        d.subsamp = ss;
    }
    tjDestroy(h);
    return d;
}

double Psnr(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    if (se == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * a.size() / se);
}

// libjpeg-turbo's baseline stream, accurate integer DCT, of a raster's
// pixels (pitch 0: rows packed) in the given pixel format.
std::vector<uint8_t> TurboCompress(const Raster &r, const uint8_t *pixels, int pitch, int pixelFormat,
                                   int tjSubsamp, int quality, int flags) {
    tjhandle h = tjInitCompress();
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(h, pixels, static_cast<int>(r.width), pitch, static_cast<int>(r.height), pixelFormat,
                               &buf, &size, tjSubsamp, quality, TJFLAG_ACCURATEDCT | flags);
    std::vector<uint8_t> out;
    if (rc == 0) out.assign(buf, buf + size);
    tjFree(buf);
    tjDestroy(h);
    return out;
}

// libjpeg-turbo's own stream for a raster as stored (bottom-up rows).
std::vector<uint8_t> TurboEncode(const Raster &r, int quality, int tjSubsamp, int pixelFormat) {
    return TurboCompress(r, r.data.data(), static_cast<int>(Stride(r.width, r.bitCount)), pixelFormat, tjSubsamp,
                         quality, TJFLAG_BOTTOMUP);
}

// libjpeg-turbo's stream of the picture a raster shows (its top-down
// reference pixels).
std::vector<uint8_t> TurboFromReference(const Raster &r, int quality, int tjSubsamp) {
    return TurboCompress(r, r.reference.data(), 0, r.bitCount == 8 ? TJPF_GRAY : TJPF_RGB, tjSubsamp, quality, 0);
}

// The bodies of every DHT and DQT table of a stream, keyed by class/id.
std::map<int, std::vector<uint8_t>> Tables(const ParsedJpeg &j) {
    std::map<int, std::vector<uint8_t>> out;
    for (const Segment &s : j.segments) {
        size_t i = 0;
        if (s.marker == 0xC4) {
            while (i + 17 <= s.payload.size()) {
                size_t n = 0;
                for (int k = 1; k <= 16; ++k) n += s.payload[i + k];
                out[0x100 + s.payload[i]] = std::vector<uint8_t>(s.payload.begin() + i, s.payload.begin() + i + 17 + n);
                i += 17 + n;
            }
        } else if (s.marker == 0xDB) {
            while (i + 65 <= s.payload.size()) {
                out[0x200 + s.payload[i]] = std::vector<uint8_t>(s.payload.begin() + i, s.payload.begin() + i + 65);
                i += 65;
            }
        }
    }
    return out;
}

TEST(Peer, GreyEntropyDataEqualsLibjpegTurbo) {
    const struct {
        uint32_t w, h;
    } sizes[] = {{1, 1}, {8, 8}, {17, 9}, {33, 47}, {3, 100}, {255, 129}};
    for (const auto &sz : sizes) {
        const Raster r = MakeRaster(sz.w, sz.h, 8, 0, sz.w);
        for (int q : {1, 10, 25, 49, 50, 75, 90, 100}) {
            const ParsedJpeg ours = Parse(Encode(r, static_cast<uint8_t>(q), 0));
            const ParsedJpeg theirs = Parse(TurboEncode(r, q, TJSAMP_GRAY, TJPF_GRAY));
            ASSERT_TRUE(ours.ok);
            ASSERT_TRUE(theirs.ok);
            EXPECT_EQ(ours.entropy, theirs.entropy) << sz.w << "x" << sz.h << " q" << q;
            EXPECT_EQ(ours.trailer, theirs.trailer);
        }
    }
}

TEST(Peer, TablesEqualTheOnesLibjpegTurboSends) {
    const Raster r = MakeRaster(16, 16, 24, 0);
    for (int q : {1, 49, 50, 75, 100}) {
        const auto ours = Tables(Parse(Encode(r, static_cast<uint8_t>(q), 0)));
        const auto theirs = Tables(Parse(TurboEncode(r, q, TJSAMP_420, TJPF_RGB)));
        ASSERT_EQ(ours.size(), 6u);
        EXPECT_EQ(ours, theirs) << "quality " << q;
    }
}

// The Y, Cb and Cr planes the encoder transforms, one sample per block
// sample, each as wide and high as its blocks reach: the source converted
// and padded to whole MCUs, then sampled MCU by MCU, by the encoder's own
// pixel stages.
struct Planes {
    uint32_t width[3] = {}, height[3] = {};
    std::vector<uint8_t> plane[3];
};

Planes EncoderPlanes(const Raster &r, uint8_t sampling) {
    using namespace jpegcodec;
    const uint32_t mcuW = sampling == JPEG_SAMPLING_444 ? 8 : 16, mcuH = sampling == JPEG_SAMPLING_420 ? 16 : 8;
    const uint32_t pw = (r.width + mcuW - 1) / mcuW * mcuW, ph = (r.height + mcuH - 1) / mcuH * mcuH;
    std::vector<uint8_t> full[3];
    for (auto &f : full) f.resize(static_cast<size_t>(pw) * ph);
    const ReadMcu read = SelectReader(r.bitCount, r.channelOrder);
    const uint32_t stride = Stride(r.width, r.bitCount);
    for (uint32_t y = 0; y < ph; ++y) {
        const size_t at = static_cast<size_t>(y) * pw;
        if (y < r.height) {
            read(r.data.data() + static_cast<size_t>(r.height - 1 - y) * stride, r.width, &full[0][at], &full[1][at],
                 &full[2][at]);
            for (auto &f : full) std::fill(f.begin() + at + r.width, f.begin() + at + pw, f[at + r.width - 1]);
        } else {
            for (auto &f : full) std::copy(f.begin() + at - pw, f.begin() + at, f.begin() + at);
        }
    }
    Planes out;
    const uint32_t hs = mcuW / 8, vs = mcuH / 8;
    out.width[0] = pw, out.height[0] = ph;
    for (int c = 1; c < 3; ++c) out.width[c] = pw / hs, out.height[c] = ph / vs;
    for (int c = 0; c < 3; ++c) out.plane[c].resize(static_cast<size_t>(out.width[c]) * out.height[c]);
    const SampleChroma sample = SelectSampler(sampling);
    for (uint32_t my = 0; my < ph / mcuH; ++my) {
        for (uint32_t mx = 0; mx < pw / mcuW; ++mx) {
            uint8_t mcu[384];
            const size_t at = static_cast<size_t>(my) * mcuH * pw + mx * mcuW;
            sample(mcu, &full[0][at], &full[1][at], &full[2][at], pw);
            // Blocks in coding order: hs x vs luminance blocks, Cb, Cr.
            const uint8_t *block = mcu;
            for (int c = 0; c < 3; ++c) {
                const uint32_t bw = c == 0 ? hs : 1, bh = c == 0 ? vs : 1;
                for (uint32_t by = 0; by < bh; ++by)
                    for (uint32_t bx = 0; bx < bw; ++bx, block += 64)
                        for (uint32_t i = 0; i < 8; ++i)
                            std::copy(block + 8 * i, block + 8 * i + 8,
                                      out.plane[c].begin() + (static_cast<size_t>(my * bh + by) * 8 + i) * out.width[c] +
                                          (mx * bw + bx) * 8);
            }
        }
    }
    return out;
}

// libjpeg-turbo's baseline stream from raw component planes: accurate
// integer DCT, the given quantisation tables (natural order), the standard
// Huffman tables, no restart markers.
std::vector<uint8_t> LibjpegFromPlanes(const Planes &p, uint32_t width, uint32_t height, uint8_t sampling,
                                       const unsigned lum[64], const unsigned chrom[64]) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buf, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_YCbCr);
    cinfo.raw_data_in = TRUE;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.optimize_coding = FALSE;
    cinfo.restart_interval = 0;
    cinfo.comp_info[0].h_samp_factor = sampling == JPEG_SAMPLING_444 ? 1 : 2;
    cinfo.comp_info[0].v_samp_factor = sampling == JPEG_SAMPLING_420 ? 2 : 1;
    for (int c = 1; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_add_quant_table(&cinfo, 0, lum, 100, TRUE);
    jpeg_add_quant_table(&cinfo, 1, chrom, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const uint32_t rowsPerCall = 8 * static_cast<uint32_t>(cinfo.comp_info[0].v_samp_factor);
    std::vector<JSAMPROW> rows[3];
    for (uint32_t y = 0; y < p.height[0]; y += rowsPerCall) {
        JSAMPARRAY arrays[3];
        for (int c = 0; c < 3; ++c) {
            const uint32_t n = c == 0 ? rowsPerCall : 8, first = c == 0 ? y : y / (rowsPerCall / 8);
            rows[c].resize(n);
            for (uint32_t i = 0; i < n; ++i)
                rows[c][i] = const_cast<JSAMPROW>(p.plane[c].data() + static_cast<size_t>(first + i) * p.width[c]);
            arrays[c] = rows[c].data();
        }
        jpeg_write_raw_data(&cinfo, arrays, rowsPerCall);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out(buf, buf + size);
    free(buf);
    return out;
}

TEST(Peer, ColourEntropyDataEqualsLibjpegTurboFromTheSamePlanes) {
    // Sizes whose MCUs hold no block beyond the image's own blocks:
    // libjpeg-turbo codes such blocks as flat ones, the printer's encoder
    // transforms the padded samples (every size is fine for 4:4:4).
    const struct {
        uint32_t w, h;
    } sizes[] = {{16, 16}, {13, 11}, {30, 29}, {105, 45}, {64, 57}, {250, 112}};
    for (uint16_t bits : {16, 24, 32}) {
        for (uint8_t order : {0, 1}) {
            for (const auto &sz : sizes) {
                const Raster r = MakeRaster(sz.w, sz.h, bits, order, sz.w + sz.h);
                for (uint8_t sampling : {0, 1, 2}) {
                    for (int q : {1, 10, 50, 75, 90, 100}) {
                        const ParsedJpeg ours = Parse(Encode(r, static_cast<uint8_t>(q), sampling));
                        ASSERT_TRUE(ours.ok);
                        const auto tables = Tables(ours);
                        unsigned lum[64], chrom[64];
                        for (int k = 0; k < 64; ++k) {
                            lum[jpegcodec::kZigZag[k]] = tables.at(0x200)[1 + k];
                            chrom[jpegcodec::kZigZag[k]] = tables.at(0x201)[1 + k];
                        }
                        const ParsedJpeg theirs = Parse(
                            LibjpegFromPlanes(EncoderPlanes(r, sampling), sz.w, sz.h, sampling, lum, chrom));
                        ASSERT_TRUE(theirs.ok);
                        EXPECT_EQ(ours.entropy, theirs.entropy) << "bits " << bits << " order " << int(order) << " "
                                                                << sz.w << "x" << sz.h << " sampling "
                                                                << int(sampling) << " q" << q;
                    }
                }
            }
        }
    }
}

TEST(Peer, EveryFormatDecodesCloseToItsSource) {
    // A sanity check beside the exact comparisons above: each stream decodes
    // to the picture's size and subsampling, and about as close to the
    // source as libjpeg-turbo's own stream of the same picture, quality and
    // subsampling (its smoothing-free downsampling and edge handling differ
    // a little, hence the margin).
    constexpr double kMarginDb = 1.5;
    const int qualities[6] = {1, 10, 50, 75, 90, 100};
    const struct {
        uint32_t w, h;
    } sizes[] = {{1, 1}, {17, 9}, {33, 47}, {7, 3}, {64, 48}};
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (uint8_t order : {0, 1}) {
            for (const auto &sz : sizes) {
                const Raster r = MakeRaster(sz.w, sz.h, bits, order, sz.h);
                for (uint8_t sampling : {0, 1, 2}) {
                    for (int qi = 0; qi < 6; ++qi) {
                        const int q = qualities[qi];
                        uint32_t sized = 0;
                        uint16_t s1 = 0, s2 = 0;
                        const std::vector<uint8_t> s = Encode(r, static_cast<uint8_t>(q), sampling, &s1, &s2, &sized);
                        ASSERT_EQ(s1, 0);
                        ASSERT_EQ(s2, 0);
                        ASSERT_EQ(s.size(), sized) << "sizing pass and writing pass disagree";
                        const Decoded d = Decode(s, bits == 8);
                        ASSERT_TRUE(d.ok) << bits << " " << sz.w << "x" << sz.h;
                        ASSERT_EQ(d.width, static_cast<int>(sz.w));
                        ASSERT_EQ(d.height, static_cast<int>(sz.h));
                        if (bits != 8) {
                            EXPECT_EQ(d.subsamp, sampling == 0 ? TJSAMP_420 : sampling == 1 ? TJSAMP_422 : TJSAMP_444);
                        }
                        const double psnr = Psnr(d.pixels, r.reference);
                        const int tjSamp = bits == 8        ? TJSAMP_GRAY
                                           : sampling == 0 ? TJSAMP_420
                                           : sampling == 1 ? TJSAMP_422
                                                           : TJSAMP_444;
                        const double want = Psnr(Decode(TurboFromReference(r, q, tjSamp), bits == 8).pixels,
                                                 r.reference) - kMarginDb;
                        EXPECT_GE(psnr, want) << "bits " << bits << " order " << int(order) << " " << sz.w << "x"
                                              << sz.h << " sampling " << int(sampling) << " q" << q;
                    }
                }
            }
        }
    }
}

}  // namespace
