// Linux side of the Windows test: encodes the same rasters with the shared
// library and compares each stream and status line the Windows program
// wrote into the folder named on the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TestRasters.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: jpeg_win_compare FOLDER\n");
        return 2;
    }
    int passed = 0, failed = 0;
    for (int i = 0; i < jpegcases::kCaseCount; ++i) {
        const jpegcases::Case &c = jpegcases::kCases[i];
        std::vector<uint8_t> raster(jpegcases::RasterSize(c));
        jpegcases::FillRaster(c, raster.data());
        JpegEncodeParams p = jpegcases::Params(c, raster.data());
        const uint16_t s1 = Jpeg_EncodeStart(&p, JPEG_PASS_SIZE);
        std::vector<uint8_t> want(p.dstSize);
        p.dstBuffer = want.data();
        const uint16_t s2 = Jpeg_EncodeStart(&p, JPEG_PASS_WRITE);

        char path[4096];
        std::snprintf(path, sizeof path, "%s/case-%d.jpg", argv[1], i);
        std::vector<uint8_t> got;
        if (std::FILE *f = std::fopen(path, "rb")) {
            uint8_t buf[65536];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) got.insert(got.end(), buf, buf + n);
            std::fclose(f);
        }
        std::snprintf(path, sizeof path, "%s/case-%d.txt", argv[1], i);
        char line[256] = {};
        if (std::FILE *f = std::fopen(path, "r")) {
            if (!std::fgets(line, sizeof line, f)) line[0] = 0;
            std::fclose(f);
        }
        for (size_t n = std::strlen(line); n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'); --n) line[n - 1] = 0;
        char wantLine[256];
        std::snprintf(wantLine, sizeof wantLine, "%04x %04x 2f00 %u %u 1234", s1, s2, p.dstSize, p.dstSize);
        const bool same = s1 == 0 && s2 == 0 && got == want && std::string(line) == wantLine;
        if (same) {
            ++passed;
        } else {
            ++failed;
            std::printf("case %d (%ux%u, %u bits, sampling %u, quality %u): Windows %zu bytes, status \"%.40s\"; "
                        "Linux %zu bytes\n",
                        i, c.width, c.height, c.bitCount, c.sampling, c.quality, got.size(), line, want.size());
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
