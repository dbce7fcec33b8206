// Encoder throughput against libjpeg-turbo. Decodes a photograph into a
// bottom-up raster, then encodes it alternately with jpegcodec and with
// TurboJPEG's tjCompress2 (accurate DCT, bottom-up, same quality and
// sampling) and prints megapixels per second for both and their ratio. Each
// side's best round counts, timed by the thread's own processor time, which
// other processes on a shared machine disturb far less than the wall clock
// (the wall-clock ratio is printed beside it).
// Usage: jpeg_bench [photo.jpg] [rounds]
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpegcodec.h"

namespace {

// Photographs shipped by Debian's mate-backgrounds package.
const char *const kDefaultPhotos[] = {
    "/usr/share/backgrounds/mate/nature/Wood.jpg",
    "/usr/share/backgrounds/mate/nature/TwoWings.jpg",
};

std::vector<uint8_t> ReadFile(const char *path) {
    std::vector<uint8_t> out;
    if (std::FILE *f = std::fopen(path, "rb")) {
        uint8_t buf[1 << 16];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;   // bottom-up, 24-bit, rows padded to 4 bytes
    std::vector<uint8_t> grey;  // bottom-up, 8-bit, rows padded to 4 bytes
};

bool Load(const char *path, Image *img) {
    const std::vector<uint8_t> file = ReadFile(path);
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return false;
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, ss = 0, cs = 0;
    bool ok = tjDecompressHeader3(h, file.data(), file.size(), &w, &ht, &ss, &cs) == 0;
    if (ok) {
        const int stride = (w * 3 + 3) & ~3, gstride = (w + 3) & ~3;
        img->bgr.assign(static_cast<size_t>(stride) * ht, 0);
        img->grey.assign(static_cast<size_t>(gstride) * ht, 0);
        ok = tjDecompress2(h, file.data(), file.size(), img->bgr.data(), w, stride, ht, TJPF_BGR, TJFLAG_BOTTOMUP) == 0 &&
             tjDecompress2(h, file.data(), file.size(), img->grey.data(), w, gstride, ht, TJPF_GRAY, TJFLAG_BOTTOMUP) == 0;
        img->width = w;
        img->height = ht;
    }
    tjDestroy(h);
    return ok;
}

// Wall-clock and thread processor time, in seconds.
struct Stamp {
    double wall, cpu;
};

Stamp Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return {wall, ts.tv_sec + ts.tv_nsec * 1e-9};
}

}  // namespace

int main(int argc, char **argv) {
    Image img;
    const char *used = nullptr;
    if (argc > 1) {
        if (Load(argv[1], &img)) used = argv[1];
    } else {
        for (const char *p : kDefaultPhotos)
            if (Load(p, &img)) {
                used = p;
                break;
            }
    }
    if (!used) {
        std::fprintf(stderr, "jpeg_bench: no photograph found; pass a JPEG file\n");
        return 1;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const double mpix = img.width * static_cast<double>(img.height) / 1e6;
    std::printf("photo %s: %d x %d (%.1f Mpixel), %d rounds each, best round reported\n", used, img.width, img.height,
                mpix, rounds);

    struct Config {
        const char *name;
        bool grey;
        uint8_t sampling;
        int tjSamp;
        int quality;
    };
    const Config configs[] = {{"4:2:0 q75", false, 0, TJSAMP_420, 75},
                              {"4:2:2 q50", false, 1, TJSAMP_422, 50},
                              {"4:4:4 q90", false, 2, TJSAMP_444, 90},
                              {"grey  q75", true, 0, TJSAMP_GRAY, 75}};
    tjhandle tj = tjInitCompress();
    std::vector<uint8_t> out;
    for (const Config &c : configs) {
        const std::vector<uint8_t> &src = c.grey ? img.grey : img.bgr;
        JpegEncodeParams p;
        std::memset(&p, 0, sizeof p);
        p.srcBuffer = src.data();
        p.srcSize = static_cast<uint32_t>(src.size());
        p.width = static_cast<uint32_t>(img.width);
        p.height = static_cast<uint32_t>(img.height);
        p.bitCount = c.grey ? 8 : 24;
        p.quality = static_cast<uint8_t>(c.quality);
        p.sampling = c.sampling;
        p.channelOrder = 1;  // blue first, as the decoder wrote it
        if (Jpeg_EncodeStart(&p, JPEG_PASS_SIZE) != 0) {
            std::fprintf(stderr, "sizing pass failed\n");
            return 1;
        }
        out.resize(p.dstSize);
        double ours = 1e9, theirs = 1e9, oursWall = 1e9, theirsWall = 1e9;
        size_t ourBytes = 0, theirBytes = 0;
        for (int r = 0; r < rounds; ++r) {
            p.dstBuffer = out.data();
            p.dstSize = static_cast<uint32_t>(out.size());
            Stamp t0 = Now();
            const uint16_t st = Jpeg_EncodeStart(&p, JPEG_PASS_WRITE);
            Stamp t1 = Now();
            if (st != 0) {
                std::fprintf(stderr, "writing pass failed: %04x\n", st);
                return 1;
            }
            ours = std::min(ours, t1.cpu - t0.cpu);
            oursWall = std::min(oursWall, t1.wall - t0.wall);
            ourBytes = p.dstSize;

            unsigned char *buf = nullptr;
            unsigned long size = 0;
            t0 = Now();
            const int rc = tjCompress2(tj, src.data(), img.width, c.grey ? (img.width + 3) & ~3 : (img.width * 3 + 3) & ~3,
                                       img.height, c.grey ? TJPF_GRAY : TJPF_BGR, &buf, &size, c.tjSamp, c.quality,
                                       TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP);
            t1 = Now();
            if (rc != 0) {
                std::fprintf(stderr, "tjCompress2 failed: %s\n", tjGetErrorStr2(tj));
                return 1;
            }
            theirs = std::min(theirs, t1.cpu - t0.cpu);
            theirsWall = std::min(theirsWall, t1.wall - t0.wall);
            theirBytes = size;
            tjFree(buf);
        }
        std::printf("%s  jpegcodec %7.1f Mpixel/s (%zu bytes)  libjpeg-turbo %7.1f Mpixel/s (%zu bytes)  ratio %.2f"
                    "  (wall clock: ratio %.2f)\n",
                    c.name, mpix / ours, ourBytes, mpix / theirs, theirBytes, theirs / ours, theirsWall / oursWall);
    }
    tjDestroy(tj);
    return 0;
}
