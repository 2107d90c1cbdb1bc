#pragma once

// Four float lanes in an SSE2 register, under the names the lane-width templates of the engine
// use (SineLanes.h, GranulizerLanes.h); Lanes8.h is the AVX2 counterpart. Internal linkage, like
// everything those templates are instantiated with.

#include <emmintrin.h>

namespace
{
struct Lanes4
{
    using Float = __m128;
    using Int = __m128i;
    using Double = __m128d; // half the lanes, in double precision

    static constexpr int width = 4;
    static constexpr int allLanes = 0xf; // movemask with every lane set
    static constexpr int alignment = 16;

    static Float zero() noexcept { return _mm_setzero_ps(); }
    static Float splat (float v) noexcept { return _mm_set1_ps (v); }
    static Float load (const float* p) noexcept { return _mm_load_ps (p); }
    static void store (float* p, Float v) noexcept { _mm_store_ps (p, v); }

    static Float add (Float a, Float b) noexcept { return _mm_add_ps (a, b); }
    static Float sub (Float a, Float b) noexcept { return _mm_sub_ps (a, b); }
    static Float mul (Float a, Float b) noexcept { return _mm_mul_ps (a, b); }
    static Float min (Float a, Float b) noexcept { return _mm_min_ps (a, b); }
    static Float max (Float a, Float b) noexcept { return _mm_max_ps (a, b); }

    static Float bitAnd (Float a, Float b) noexcept { return _mm_and_ps (a, b); }
    static Float bitAndNot (Float a, Float b) noexcept { return _mm_andnot_ps (a, b); }
    static Float bitOr (Float a, Float b) noexcept { return _mm_or_ps (a, b); }
    static Float bitXor (Float a, Float b) noexcept { return _mm_xor_ps (a, b); }

    static Float greaterEqual (Float a, Float b) noexcept { return _mm_cmpge_ps (a, b); }
    static Float greater (Float a, Float b) noexcept { return _mm_cmpgt_ps (a, b); }
    static Float less (Float a, Float b) noexcept { return _mm_cmplt_ps (a, b); }
    static Float lessEqual (Float a, Float b) noexcept { return _mm_cmple_ps (a, b); }
    static int mask (Float v) noexcept { return _mm_movemask_ps (v); }

    static Int truncate (Float v) noexcept { return _mm_cvttps_epi32 (v); }
    static Float toFloat (Int v) noexcept { return _mm_cvtepi32_ps (v); }
    static Float bitsAsFloat (Int v) noexcept { return _mm_castsi128_ps (v); }
    static void storeInt (int* p, Int v) noexcept { _mm_store_si128 (reinterpret_cast<Int*> (p), v); }

    static Int zeroInt() noexcept { return _mm_setzero_si128(); }
    static Int splatInt (int v) noexcept { return _mm_set1_epi32 (v); }
    static Int addInt (Int a, Int b) noexcept { return _mm_add_epi32 (a, b); }
    static Int subInt (Int a, Int b) noexcept { return _mm_sub_epi32 (a, b); }
    static Int greaterInt (Int a, Int b) noexcept { return _mm_cmpgt_epi32 (a, b); }
    static Int andInt (Int a, Int b) noexcept { return _mm_and_si128 (a, b); }
    static Int equalInt (Int a, Int b) noexcept { return _mm_cmpeq_epi32 (a, b); }
    template <int bits>
    static Int shiftLeftInt (Int v) noexcept { return _mm_slli_epi32 (v, bits); }

    // Lanes 0 .. 1 and 2 .. 3 in double precision, and back (rounded to float).
    static Double lowToDouble (Float v) noexcept { return _mm_cvtps_pd (v); }
    static Double highToDouble (Float v) noexcept { return _mm_cvtps_pd (_mm_movehl_ps (v, v)); }
    static Float fromDoubles (Double low, Double high) noexcept { return _mm_movelh_ps (_mm_cvtpd_ps (low), _mm_cvtpd_ps (high)); }

    static Double splatDouble (double v) noexcept { return _mm_set1_pd (v); }
    static Double loadDouble (const double* p) noexcept { return _mm_load_pd (p); }
    static Double addDouble (Double a, Double b) noexcept { return _mm_add_pd (a, b); }
    static Double subDouble (Double a, Double b) noexcept { return _mm_sub_pd (a, b); }
    static Double mulDouble (Double a, Double b) noexcept { return _mm_mul_pd (a, b); }

    // sums[t] (or 0) + rows[t * 4] + rows[t * 4 + 1] + ... + rows[t * 4 + 3], added in that order,
    // for t = 0 .. 3: a 4 x 4 transpose, then one addition per column.
    static void addRowsToSums (const float* rows, float* sums, bool fromZero) noexcept
    {
        __m128 c0 = _mm_load_ps (rows), c1 = _mm_load_ps (rows + 4), c2 = _mm_load_ps (rows + 8), c3 = _mm_load_ps (rows + 12);
        _MM_TRANSPOSE4_PS (c0, c1, c2, c3);
        __m128 sum = fromZero ? _mm_setzero_ps() : _mm_loadu_ps (sums);
        sum = _mm_add_ps (sum, c0);
        sum = _mm_add_ps (sum, c1);
        sum = _mm_add_ps (sum, c2);
        sum = _mm_add_ps (sum, c3);
        _mm_storeu_ps (sums, sum);
    }

    // table[index[k]] in lane k.
    static Float gather (const float* table, const int* index) noexcept
    {
        return _mm_setr_ps (table[index[0]], table[index[1]], table[index[2]], table[index[3]]);
    }

    // data[index[k]] in lane k of a and data[index[k] + 1] in lane k of b.
    static void gatherNeighbours (const float* data, const int* index, Float& a, Float& b) noexcept
    {
        a = _mm_setr_ps (data[index[0]], data[index[1]], data[index[2]], data[index[3]]);
        b = _mm_setr_ps (data[index[0] + 1], data[index[1] + 1], data[index[2] + 1], data[index[3] + 1]);
    }
};
} // namespace
