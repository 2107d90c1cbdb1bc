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
    static Int subInt (Int a, Int b) noexcept { return _mm256_sub_epi32 (a, b); }
    static Int greaterInt (Int a, Int b) noexcept { return _mm256_cmpgt_epi32 (a, b); }
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

    // sums[t] (or 0) + rows[t * 8] + rows[t * 8 + 1] + ... + rows[t * 8 + 7], added in that order,
    // for t = 0 .. 7: an 8 x 8 transpose, then one addition per column.
    static void addRowsToSums (const float* rows, float* sums, bool fromZero) noexcept
    {
        const __m256 r0 = _mm256_load_ps (rows), r1 = _mm256_load_ps (rows + 8);
        const __m256 r2 = _mm256_load_ps (rows + 16), r3 = _mm256_load_ps (rows + 24);
        const __m256 r4 = _mm256_load_ps (rows + 32), r5 = _mm256_load_ps (rows + 40);
        const __m256 r6 = _mm256_load_ps (rows + 48), r7 = _mm256_load_ps (rows + 56);

        const __m256 t0 = _mm256_unpacklo_ps (r0, r1), t1 = _mm256_unpackhi_ps (r0, r1);
        const __m256 t2 = _mm256_unpacklo_ps (r2, r3), t3 = _mm256_unpackhi_ps (r2, r3);
        const __m256 t4 = _mm256_unpacklo_ps (r4, r5), t5 = _mm256_unpackhi_ps (r4, r5);
        const __m256 t6 = _mm256_unpacklo_ps (r6, r7), t7 = _mm256_unpackhi_ps (r6, r7);
        const __m256 s0 = _mm256_shuffle_ps (t0, t2, 0x44), s1 = _mm256_shuffle_ps (t0, t2, 0xee);
        const __m256 s2 = _mm256_shuffle_ps (t1, t3, 0x44), s3 = _mm256_shuffle_ps (t1, t3, 0xee);
        const __m256 s4 = _mm256_shuffle_ps (t4, t6, 0x44), s5 = _mm256_shuffle_ps (t4, t6, 0xee);
        const __m256 s6 = _mm256_shuffle_ps (t5, t7, 0x44), s7 = _mm256_shuffle_ps (t5, t7, 0xee);

        __m256 sum = fromZero ? _mm256_setzero_ps() : _mm256_loadu_ps (sums);
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s0, s4, 0x20));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s1, s5, 0x20));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s2, s6, 0x20));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s3, s7, 0x20));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s0, s4, 0x31));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s1, s5, 0x31));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s2, s6, 0x31));
        sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s3, s7, 0x31));
        _mm256_storeu_ps (sums, sum);
    }

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
