#include "mp3enc/calc/magnitude.h"

#include <algorithm>
#include <cmath>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

float largestMagnitude(const float *x, std::size_t n, float largest)
{
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 a = _mm_set1_ps(largest), b = a;
    for (; i + 8 <= n; i += 8) {
        // maxps gives its second operand where either is NaN: the running maximum.
        a = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(x + i), magnitude), a);
        b = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(x + i + 4), magnitude), b);
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, _mm_max_ps(a, b));
    for (float lane : lanes)
        largest = std::max(largest, lane);
#endif
    for (; i < n; ++i)
        largest = std::max(largest, std::fabs(x[i]));
    return largest;
}
