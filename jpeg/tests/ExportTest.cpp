// The shared library as shipped: it exports Jpeg_EncodeStart and nothing of
// the encoder's insides, and encodes exactly as the stages linked here.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestImages.h"

using namespace jpegtest;

namespace {

TEST(Export, SharedLibraryExportsOnlyTheEntry) {
    void *lib = dlopen(JPEGCODEC_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Entry = uint16_t (*)(JpegEncodeParams *, uint32_t);
    auto entry = reinterpret_cast<Entry>(dlsym(lib, "Jpeg_EncodeStart"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN9jpegcodec10ForwardDctEPKhPi"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN9jpegcodec16kStandardTablesE"), nullptr);

    const Raster r = MakeRaster(45, 31, 24, 1);
    const std::vector<uint8_t> want = Encode(r, 70, 1);
    JpegEncodeParams p = r.Params(70, 1);
    ASSERT_EQ(entry(&p, JPEG_PASS_SIZE), 0);
    std::vector<uint8_t> got(p.dstSize);
    p.dstBuffer = got.data();
    ASSERT_EQ(entry(&p, JPEG_PASS_WRITE), 0);
    EXPECT_EQ(got, want);
    dlclose(lib);
}

}  // namespace
