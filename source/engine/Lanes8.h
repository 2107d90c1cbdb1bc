#pragma once

// Eight float lanes in an AVX2 register: the counterpart of Lanes4.h. Include <cstring> and
// <immintrin.h> first, then Avx2Begin.h, then this header (it has internal linkage, so its AVX2
// code stays in the translation unit that includes it).

namespace
{
struct Lanes8
{
    using Float = __m256;
    using Int = __m256i;
    using Double = __m256d; // half the lanes, in double precision

    static constexpr int width = 8;
    static constexpr int allLanes = 0xff; // movemask with every lane set
    static constexpr int alignment = 32;

    static Float zero() noexcept { return _mm256_setzero_ps(); }
    static Float splat (float v) noexcept { return _mm256_set1_ps (v); }
    static Float load (const float* p) noexcept { return _mm256_load_ps (p); }
    static void store (float* p, Float v) noexcept { _mm256_store_ps (p, v); }

    static Float add (Float a, Float b) noexcept { return _mm256_add_ps (a, b); }
    static Float sub (Float a, Float b) noexcept { return _mm256_sub_ps (a, b); }
    static Float mul (Float a, Float b) noexcept { return _mm256_mul_ps (a, b); }
    static Float min (Float a, Float b) noexcept { return _mm256_min_ps (a, b); }
    static Float max (Float a, Float b) noexcept { return _mm256_max_ps (a, b); }

    static Float bitAnd (Float a, Float b) noexcept { return _mm256_and_ps (a, b); }
    static Float bitAndNot (Float a, Float b) noexcept { return _mm256_andnot_ps (a, b); }
    static Float bitOr (Float a, Float b) noexcept { return _mm256_or_ps (a, b); }
    static Float bitXor (Float a, Float b) noexcept { return _mm256_xor_ps (a, b); }

    static Float greaterEqual (Float a, Float b) noexcept { return _mm256_cmp_ps (a, b, _CMP_GE_OQ); }
    static Float greater (Float a, Float b) noexcept { return _mm256_cmp_ps (a, b, _CMP_GT_OQ); }
    static Float less (Float a, Float b) noexcept { return _mm256_cmp_ps (a, b, _CMP_LT_OQ); }
    static Float lessEqual (Float a, Float b) noexcept { return _mm256_cmp_ps (a, b, _CMP_LE_OQ); }
    static int mask (Float v) noexcept { return _mm256_movemask_ps (v); }

    static Int truncate (Float v) noexcept { return _mm256_cvttps_epi32 (v); }
    static Float toFloat (Int v) noexcept { return _mm256_cvtepi32_ps (v); }
    static Float bitsAsFloat (Int v) noexcept { return _mm256_castsi256_ps (v); }
    static void storeInt (int* p, Int v) noexcept { _mm256_store_si256 (reinterpret_cast<Int*> (p), v); }

    static Int zeroInt() noexcept { return _mm256_setzero_si256(); }
    static Int splatInt (int v) noexcept { return _mm256_set1_epi32 (v); }
    static Int addInt (Int a, Int b) noexcept { return _mm256_add_epi32 (a, b); }
    static Int andInt (Int a, Int b) noexcept { return _mm256_and_si256 (a, b); }
    static Int equalInt (Int a, Int b) noexcept { return _mm256_cmpeq_epi32 (a, b); }
    template <int bits>
    static Int shiftLeftInt (Int v) noexcept { return _mm256_slli_epi32 (v, bits); }

    // Lanes 0 .. 3 and 4 .. 7 in double precision, and back (rounded to float).
    static Double lowToDouble (Float v) noexcept { return _mm256_cvtps_pd (_mm256_castps256_ps128 (v)); }
    static Double highToDouble (Float v) noexcept { return _mm256_cvtps_pd (_mm256_extractf128_ps (v, 1)); }
    static Float fromDoubles (Double low, Double high) noexcept { return _mm256_set_m128 (_mm256_cvtpd_ps (high), _mm256_cvtpd_ps (low)); }

    static Double splatDouble (double v) noexcept { return _mm256_set1_pd (v); }
    static Double loadDouble (const double* p) noexcept { return _mm256_load_pd (p); }
    static Double addDouble (Double a, Double b) noexcept { return _mm256_add_pd (a, b); }
    static Double subDouble (Double a, Double b) noexcept { return _mm256_sub_pd (a, b); }
    static Double mulDouble (Double a, Double b) noexcept { return _mm256_mul_pd (a, b); }

    // table[index[k]] in lane k.
    static Float gather (const float* table, const int* index) noexcept
    {
        return _mm256_setr_ps (table[index[0]], table[index[1]], table[index[2]], table[index[3]],
                               table[index[4]], table[index[5]], table[index[6]], table[index[7]]);
    }

    // Two neighbouring floats as one 64-bit value.
    static double pairAt (const float* p) noexcept
    {
        double d;
        std::memcpy (&d, p, sizeof (d));
        return d;
    }

    // data[index[k]] in lane k of a and data[index[k] + 1] in lane k of b: each lane's two
    // neighbouring samples in one 64-bit read, then split. (Plain reads beat the gather
    // instructions on the processors measured.)
    static void gatherNeighbours (const float* data, const int* index, Float& a, Float& b) noexcept
    {
        const __m256i order = _mm256_setr_epi32 (0, 1, 4, 5, 2, 3, 6, 7);
        const __m256 pairsLow = _mm256_castpd_ps (_mm256_setr_pd (pairAt (data + index[0]), pairAt (data + index[1]),
                                                                  pairAt (data + index[2]), pairAt (data + index[3])));
        const __m256 pairsHigh = _mm256_castpd_ps (_mm256_setr_pd (pairAt (data + index[4]), pairAt (data + index[5]),
                                                                   pairAt (data + index[6]), pairAt (data + index[7])));
        a = _mm256_permutevar8x32_ps (_mm256_shuffle_ps (pairsLow, pairsHigh, 0x88), order);
        b = _mm256_permutevar8x32_ps (_mm256_shuffle_ps (pairsLow, pairsHigh, 0xdd), order);
    }
};
} // namespace
