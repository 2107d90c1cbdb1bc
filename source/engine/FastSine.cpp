#include "FastSine.h"

#include <cmath>
#include <emmintrin.h>

namespace quoril::engine
{
namespace
{
// sin of four lanes, valid for |x| <= 8192.
inline __m128 sin4 (__m128 x) noexcept
{
    const __m128 signBit = _mm_castsi128_ps (_mm_set1_epi32 ((int) 0x80000000));
    __m128 sign = _mm_and_ps (x, signBit);
    __m128 ax = _mm_andnot_ps (signBit, x);

    // Octant j (made even), the angle's distance from j * pi/4, and which polynomial and sign.
    __m128i j = _mm_cvttps_epi32 (_mm_mul_ps (ax, _mm_set1_ps (1.27323954473516f)));
    j = _mm_and_si128 (_mm_add_epi32 (j, _mm_set1_epi32 (1)), _mm_set1_epi32 (~1));
    const __m128 y = _mm_cvtepi32_ps (j);
    const __m128 flip = _mm_castsi128_ps (_mm_slli_epi32 (_mm_and_si128 (j, _mm_set1_epi32 (4)), 29));
    const __m128 useSinPoly = _mm_castsi128_ps (_mm_cmpeq_epi32 (_mm_and_si128 (j, _mm_set1_epi32 (2)), _mm_setzero_si128()));
    sign = _mm_xor_ps (sign, flip);

    ax = _mm_sub_ps (ax, _mm_mul_ps (y, _mm_set1_ps (0.78515625f)));
    ax = _mm_sub_ps (ax, _mm_mul_ps (y, _mm_set1_ps (2.4187564849853515625e-4f)));
    ax = _mm_sub_ps (ax, _mm_mul_ps (y, _mm_set1_ps (3.77489497744594108e-8f)));

    const __m128 z = _mm_mul_ps (ax, ax);

    __m128 cosPoly = _mm_set1_ps (2.443315711809948e-5f);
    cosPoly = _mm_add_ps (_mm_mul_ps (cosPoly, z), _mm_set1_ps (-1.388731625493765e-3f));
    cosPoly = _mm_add_ps (_mm_mul_ps (cosPoly, z), _mm_set1_ps (4.166664568298827e-2f));
    cosPoly = _mm_mul_ps (_mm_mul_ps (cosPoly, z), z);
    cosPoly = _mm_sub_ps (cosPoly, _mm_mul_ps (z, _mm_set1_ps (0.5f)));
    cosPoly = _mm_add_ps (cosPoly, _mm_set1_ps (1.0f));

    __m128 sinPoly = _mm_set1_ps (-1.9515295891e-4f);
    sinPoly = _mm_add_ps (_mm_mul_ps (sinPoly, z), _mm_set1_ps (8.3321608736e-3f));
    sinPoly = _mm_add_ps (_mm_mul_ps (sinPoly, z), _mm_set1_ps (-1.6666654611e-1f));
    sinPoly = _mm_add_ps (_mm_mul_ps (_mm_mul_ps (sinPoly, z), ax), ax);

    const __m128 result = _mm_or_ps (_mm_and_ps (useSinPoly, sinPoly), _mm_andnot_ps (useSinPoly, cosPoly));
    return _mm_xor_ps (result, sign);
}

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

        // All four lanes in range (a NaN compares false).
        if (_mm_movemask_ps (_mm_cmple_ps (_mm_and_ps (x, absMask), limit)) == 0xf)
        {
            _mm_storeu_ps (out + i, _mm_mul_ps (scaleV, sin4 (x)));
        }
        else
        {
            for (int k = i; k < i + 4; ++k)
                out[k] = scale * std::sin (in[k]);
        }
    }

    for (; i < n; ++i)
    {
        const float v = in[i];

        if (inFastRange (v))
        {
            float lane[4];
            _mm_storeu_ps (lane, _mm_mul_ps (scaleV, sin4 (_mm_set1_ps (v))));
            out[i] = lane[0];
        }
        else
        {
            out[i] = scale * std::sin (v);
        }
    }
}
} // namespace quoril::engine
