#include "FastSine.h"
#include "CpuFeatures.h"

#include <cmath>
#include <emmintrin.h>

#include "Lanes4.h"
#include "SineLanes.h"

namespace quoril::engine
{
namespace
{
const bool processorHasAvx2 = []
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") != 0;
}();
} // namespace

bool cpuHasAvx2() noexcept { return processorHasAvx2; }

namespace
{
inline bool inFastRange (float v) noexcept { return std::fabs (v) <= 8192.0f; } // false for NaN
} // namespace

void sineBlock (const float* in, float* out, int n, float scale) noexcept
{
    if (usePreciseSine)
    {
        for (int i = 0; i < n; ++i)
            out[i] = scale * std::sin (in[i]);

        return;
    }

    const __m128 scaleV = _mm_set1_ps (scale);
    const __m128 limit = _mm_set1_ps (8192.0f);
    const __m128 absMask = _mm_castsi128_ps (_mm_set1_epi32 (0x7fffffff));
    int i = 0;

    for (; i + 4 <= n; i += 4)
    {
        const __m128 x = _mm_loadu_ps (in + i);

        // Lanes in range take the block sine, the others (and NaN) the runtime's sinf.
        const __m128 inRange = _mm_cmple_ps (_mm_and_ps (x, absMask), limit);
        const int rangeBits = _mm_movemask_ps (inRange);
        alignas (16) float lanes[4];
        _mm_store_ps (lanes, x);
        _mm_storeu_ps (out + i, _mm_mul_ps (scaleV, sineInRange<Lanes4> (_mm_and_ps (x, inRange))));

        if (rangeBits != 0xf)
            for (int k = 0; k < 4; ++k)
                if (((rangeBits >> k) & 1) == 0)
                    out[i + k] = scale * std::sin (lanes[k]);
    }

    for (; i < n; ++i)
    {
        const float v = in[i];

        if (inFastRange (v))
        {
            float lane[4];
            _mm_storeu_ps (lane, _mm_mul_ps (scaleV, sineInRange<Lanes4> (_mm_set1_ps (v))));
            out[i] = lane[0];
        }
        else
        {
            out[i] = scale * std::sin (v);
        }
    }
}
} // namespace quoril::engine
