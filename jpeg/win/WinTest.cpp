// Windows test program: loads jpegcodec.dll, resolves Jpeg_EncodeStart by
// name and by ordinal 1, encodes every test raster through both and writes
// the streams as case-<n>.jpg into the folder named on the command line.
// A status line per case goes to case-<n>.txt. Exit status 0 when every
// call behaved.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "TestRasters.h"

typedef uint16_t(__stdcall *EncodeStart)(JpegEncodeParams *, uint32_t);

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: jpegwintest DLL OUTDIR\n");
        return 2;
    }
    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) {
        fprintf(stderr, "cannot load %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    EncodeStart byName = reinterpret_cast<EncodeStart>(GetProcAddress(lib, "Jpeg_EncodeStart"));
    EncodeStart byOrdinal = reinterpret_cast<EncodeStart>(GetProcAddress(lib, MAKEINTRESOURCEA(1)));
    if (!byName || !byOrdinal || byName != byOrdinal) {
        fprintf(stderr, "export: by name %p, by ordinal 1 %p\n", reinterpret_cast<void *>(byName),
                reinterpret_cast<void *>(byOrdinal));
        return 1;
    }
    int failures = 0;
    for (int i = 0; i < jpegcases::kCaseCount; ++i) {
        const jpegcases::Case &c = jpegcases::kCases[i];
        uint8_t *raster = static_cast<uint8_t *>(malloc(jpegcases::RasterSize(c)));
        jpegcases::FillRaster(c, raster);
        JpegEncodeParams p = jpegcases::Params(c, raster);
        // The sizing pass by ordinal, the writing pass by name.
        const uint16_t s1 = byOrdinal(&p, JPEG_PASS_SIZE);
        const uint32_t sized = p.dstSize;
        uint8_t *out = static_cast<uint8_t *>(malloc(sized ? sized : 1));
        p.dstBuffer = out;
        const uint16_t s2 = byName(&p, JPEG_PASS_WRITE);
        // Rejections keep dstSize; a pass byte of 2 is one.
        JpegEncodeParams bad = p;
        bad.dstSize = 1234;
        const uint16_t s3 = byName(&bad, 2);
        char path[512];
        snprintf(path, sizeof path, "%s/case-%d.jpg", argv[2], i);
        FILE *f = fopen(path, "wb");
        if (!f || fwrite(out, 1, p.dstSize, f) != p.dstSize) ++failures;
        if (f) fclose(f);
        snprintf(path, sizeof path, "%s/case-%d.txt", argv[2], i);
        f = fopen(path, "w");
        if (f) {
            fprintf(f, "%04x %04x %04x %u %u %u\n", s1, s2, s3, sized, p.dstSize, bad.dstSize);
            fclose(f);
        } else {
            ++failures;
        }
        if (s1 != 0 || s2 != 0 || s3 != 0x2F00 || sized != p.dstSize || bad.dstSize != 1234) ++failures;
        free(out);
        free(raster);
    }
    FreeLibrary(lib);
    printf("%d cases, %d failures\n", jpegcases::kCaseCount, failures);
    return failures == 0 ? 0 : 1;
}
