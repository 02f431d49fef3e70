#pragma once
// Four runs of four floats turned over: value k of run q goes to place q of
// destination k. Tables kept one way and read the other (months by cell,
// cells by month) are copied four by four with it, every load and store
// covering four neighbouring values instead of one.
#include <cstddef>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace numeric {

// Reads src + q * step [0..4) for q < 4 and writes dst[k][0..4); with
// `stream` the stores go past the caches (lines the caller writes whole,
// fenced by the caller before anyone reads them).
template <bool stream = false>
inline void turn_over4(const float* src, size_t step, float* const dst[4]) {
#if defined(__SSE__)
    __m128 r0 = _mm_loadu_ps(src), r1 = _mm_loadu_ps(src + step), r2 = _mm_loadu_ps(src + 2 * step),
           r3 = _mm_loadu_ps(src + 3 * step);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    if constexpr (stream) {
        _mm_stream_ps(dst[0], r0), _mm_stream_ps(dst[1], r1), _mm_stream_ps(dst[2], r2), _mm_stream_ps(dst[3], r3);
    } else {
        _mm_storeu_ps(dst[0], r0), _mm_storeu_ps(dst[1], r1), _mm_storeu_ps(dst[2], r2), _mm_storeu_ps(dst[3], r3);
    }
#else
    for (size_t k = 0; k < 4; ++k)
        for (size_t q = 0; q < 4; ++q) dst[k][q] = src[q * step + k];
#endif
}

}  // namespace numeric
