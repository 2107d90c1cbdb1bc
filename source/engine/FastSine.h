#pragma once

#include <emmintrin.h>

// Block sine for the resonators: four lanes at a time with SSE2, a Cody-Waite reduction to
// [-pi/4, pi/4] and minimax polynomials, within about 2e-7 of the runtime's sinf for |x| up to
// 8192. Larger or non-finite arguments go through the runtime's sinf.
namespace quoril::engine
{
// When set, sineBlock uses the runtime's sinf for every sample (for comparisons with the plain
// sample-by-sample arithmetic; the result then matches it bit for bit).
inline bool usePreciseSine = false;

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


// out[i] = scale * sin(in[i]) for i in 0 .. n - 1; in and out may be the same array.
void sineBlock (const float* in, float* out, int n, float scale) noexcept;
} // namespace quoril::engine
