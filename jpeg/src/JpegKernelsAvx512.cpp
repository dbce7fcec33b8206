// The encoder's hot kernels built for AVX-512 (F, BW and VL), used when the
// processor has them: the AVX2 kernels plus the zig-zag reordering as word
// permutations. Built with those flags on 64-bit x86 only; elsewhere, or on
// a processor without them, there is no such set.
#include <string.h>

#if defined(__AVX512BW__) && defined(__AVX512VL__) && defined(__AVX2__)
#include <immintrin.h>
#endif

#include "JpegInternal.h"

namespace jpegcodec {

#if defined(__AVX512BW__) && defined(__AVX512VL__) && defined(__AVX2__)
namespace avx512 {
#include "JpegKernels.inc"
}  // namespace avx512

const JpegKernels *Avx512Kernels() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vl")
               ? &avx512::kKernels
               : nullptr;
}
#else
const JpegKernels *Avx512Kernels() { return nullptr; }
#endif

}  // namespace jpegcodec
