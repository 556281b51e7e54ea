// One vector width for a kernel source that writes its body once for every width (the
// libdeflate idiom: a template header included by each instruction-set file). The file defines
// N47_VECTOR_BITS (128, 256 or 512) and includes this once; N47_MM(op) then names the
// intrinsic of that width whose name differs only in its prefix (_mm_, _mm256_, _mm512_), and
// N47_MM_SI(op) one that also ends in the width (_si128, _si256, _si512). Everything has
// internal linkage: each file's copy is compiled with its own flags alone.
#ifndef N47_COMMON_X86_VECTOR_WIDTH_H
#define N47_COMMON_X86_VECTOR_WIDTH_H

#include <immintrin.h>

#if N47_VECTOR_BITS == 128
#define N47_MM(op) _mm_##op
#define N47_MM_SI(op) _mm_##op##_si128
#elif N47_VECTOR_BITS == 256
#define N47_MM(op) _mm256_##op
#define N47_MM_SI(op) _mm256_##op##_si256
#elif N47_VECTOR_BITS == 512
#define N47_MM(op) _mm512_##op
#define N47_MM_SI(op) _mm512_##op##_si512
#else
#error "define N47_VECTOR_BITS as 128, 256 or 512 before including vector_width.h"
#endif

namespace n47::fast {
namespace {

#if N47_VECTOR_BITS == 128
using Vector = __m128i;
#elif N47_VECTOR_BITS == 256
using Vector = __m256i;
#else
using Vector = __m512i;
#endif

inline Vector loadVector(const void* p) { return N47_MM_SI(loadu)(static_cast<const Vector*>(p)); }
inline void storeVector(void* p, Vector v) { N47_MM_SI(storeu)(static_cast<Vector*>(p), v); }

// Clears the upper register halves before scalar code runs, so that it pays no AVX-to-SSE
// transition penalty; SSE2 has nothing to clear.
inline void leaveVectorCode() {
#if N47_VECTOR_BITS > 128
  _mm256_zeroupper();
#endif
}

}  // namespace
}  // namespace n47::fast

#endif
