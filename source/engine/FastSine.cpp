#include "FastSine.h"
#include "CpuFeatures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
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

// The first 192 bits of 2/pi, 24 to a word, most significant first.
constexpr std::uint32_t twoOverPiWords[] = { 0xa2f983, 0x6e4e44, 0x1529fc, 0x2757d1, 0xf534dd, 0xc0db62, 0x95993c, 0x439041 };

// Bits first .. first + 27 of 2/pi as the value they contribute (exact: 28 bits).
constexpr double twoOverPiBits (int first)
{
    double value = 0.0;

    for (int i = first; i < first + 28; ++i)
        value = value * 2.0 + (double) ((twoOverPiWords[(i - 1) / 24] >> (23 - (i - 1) % 24)) & 1u);

    for (int i = 0; i < first + 27; ++i)
        value *= 0.5;

    return value;
}

constexpr TwoOverPiTable makeTwoOverPiTable()
{
    static_assert (TwoOverPiTable::size + 83 <= 24 * (int) (sizeof (twoOverPiWords) / sizeof (twoOverPiWords[0])));
    TwoOverPiTable table {};

    for (int s = 1; s <= TwoOverPiTable::size; ++s)
        for (int p = 0; p < 3; ++p)
            table.pieces[s - 1][p] = twoOverPiBits (s + 28 * p);

    return table;
}
} // namespace

bool cpuHasAvx2() noexcept { return processorHasAvx2; }

constexpr TwoOverPiTable twoOverPiTable = makeTwoOverPiTable();

void sineBlock (const float* in, float* out, int n, float scale) noexcept
{
    const __m128 scaleV = _mm_set1_ps (scale);
    int i = 0;

    for (; i + 4 <= n; i += 4)
        _mm_storeu_ps (out + i, _mm_mul_ps (scaleV, sineOfLanes<Lanes4> (_mm_loadu_ps (in + i))));

    if (i < n)
    {
        alignas (16) float lanes[4] = {};
        std::memcpy (lanes, in + i, sizeof (float) * (size_t) (n - i));
        _mm_store_ps (lanes, _mm_mul_ps (scaleV, sineOfLanes<Lanes4> (_mm_load_ps (lanes))));
        std::memcpy (out + i, lanes, sizeof (float) * (size_t) (n - i));
    }
}
} // namespace quoril::engine
