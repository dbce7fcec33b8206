// The encoder's hot kernels for the baseline instruction set, and the choice
// between them and the SSE4.1, AVX2 and AVX-512 builds for the processor the
// library runs on, made once.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

namespace baseline {
#include "JpegKernels.inc"
}  // namespace baseline

const JpegKernels *BaselineKernels() { return &baseline::kKernels; }

namespace {

const JpegKernels *ChooseKernels() {
    if (const JpegKernels *avx512 = Avx512Kernels()) return avx512;
    if (const JpegKernels *avx2 = Avx2Kernels()) return avx2;
    if (const JpegKernels *sse41 = Sse41Kernels()) return sse41;
    return &baseline::kKernels;
}

// Every thread that finds it unset computes the same value, so a plain
// atomic store suffices (no lock, nothing for the C runtime to provide).
const JpegKernels *gActive = nullptr;

}  // namespace

const JpegKernels *ActiveKernels() {
    const JpegKernels *k = __atomic_load_n(&gActive, __ATOMIC_ACQUIRE);
    if (k == nullptr) {
        k = ChooseKernels();
        __atomic_store_n(&gActive, k, __ATOMIC_RELEASE);
    }
    return k;
}

}  // namespace jpegcodec
