// The encoder's hot kernels for the baseline instruction set, and the choice
// between them and the SSE4.1 and AVX2 builds for the processor the call
// runs on.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

namespace baseline {
#include "JpegKernels.inc"
}  // namespace baseline

const JpegKernels *BaselineKernels() { return &baseline::kKernels; }

const JpegKernels *ActiveKernels() {
    if (const JpegKernels *avx2 = Avx2Kernels()) return avx2;
    if (const JpegKernels *sse41 = Sse41Kernels()) return sse41;
    return &baseline::kKernels;
}

}  // namespace jpegcodec
