// The encoder's hot kernels built for SSE4.1 (four 32-bit lanes with a
// 32-bit multiply), used when the processor has SSE4.1 but not AVX2. Built
// with -msse4.1 on x86 only; elsewhere there is no such set.
#include <string.h>

#include "JpegInternal.h"

namespace jpegcodec {

#if defined(__SSE4_1__)
namespace sse41 {
#include "JpegKernels.inc"
}  // namespace sse41

const JpegKernels *Sse41Kernels() { return __builtin_cpu_supports("sse4.1") ? &sse41::kKernels : nullptr; }
#else
const JpegKernels *Sse41Kernels() { return nullptr; }
#endif

}  // namespace jpegcodec
