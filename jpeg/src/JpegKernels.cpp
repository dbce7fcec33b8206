// The encoder's hot kernels for the baseline instruction set, and the choice
// between them and the AVX2 build for the processor the call runs on.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

namespace baseline {
#include "JpegKernels.inc"
}  // namespace baseline

const JpegKernels *BaselineKernels() { return &baseline::kKernels; }

const JpegKernels *ActiveKernels() {
    const JpegKernels *avx2 = Avx2Kernels();
    return avx2 ? avx2 : &baseline::kKernels;
}

}  // namespace jpegcodec
