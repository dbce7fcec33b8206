// The encoder's hot kernels built for AVX2 (eight 32-bit lanes), used when
// the processor has it. Built with -mavx2 on x86 only; elsewhere, or on a
// processor without AVX2, there is no such set.
#include <string.h>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "JpegInternal.h"

namespace jpegcodec {

#if defined(__AVX2__)
namespace avx2 {
#include "JpegKernels.inc"
}  // namespace avx2

const JpegKernels *Avx2Kernels() { return __builtin_cpu_supports("avx2") ? &avx2::kKernels : nullptr; }
#else
const JpegKernels *Avx2Kernels() { return nullptr; }
#endif

}  // namespace jpegcodec
