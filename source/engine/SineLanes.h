#pragma once

// The engine's block sine on a register of float lanes (Lanes4.h or Lanes8.h), for every finite
// argument, within about 2e-7 of the runtime's sinf:
//   |x| <= 8192        a Cody-Waite reduction to [-pi/4, pi/4] in single precision;
//   8192 < |x| < 2^24  a Cody-Waite reduction in double precision (three-part pi/2);
//   2^24 <= |x|        the bits of 2/pi that matter for the argument's exponent, from a table,
//                      multiplied out exactly in double precision.
// All three end in the same single-precision polynomials. Each lane's result depends on its own
// argument only, so four and eight lanes give the same values. Infinities and NaN go through the
// runtime's sinf (which makes them NaN).
// Internal linkage, so that the AVX2 translation units keep their own copy. Include <cmath>,
// <cstdint>, <cstring> and FastSine.h before this header.

namespace quoril::engine
{
// 2/pi as bits b1 b2 b3 ... (bit i weighing 2^-i): entry s - 1 holds bits s .. s + 27, s + 28 ..
// s + 55 and s + 56 .. s + 83, each as the value it contributes, for s = 1 .. 103.
struct TwoOverPiTable
{
    static constexpr int size = 103;
    double pieces[size][3];
};

extern const TwoOverPiTable twoOverPiTable;
} // namespace quoril::engine

namespace
{
// sin (j * pi/4 + r) for an even octant j and |r| <= pi/4 (or a little beyond), with the sign bit
// of `sign` applied on top.
template <typename L>
inline typename L::Float sineOfReduced (typename L::Float r, typename L::Int j, typename L::Float sign) noexcept
{
    using F = typename L::Float;

    const F flip = L::bitsAsFloat (L::template shiftLeftInt<29> (L::andInt (j, L::splatInt (4))));
    const F useSinPoly = L::bitsAsFloat (L::equalInt (L::andInt (j, L::splatInt (2)), L::zeroInt()));
    sign = L::bitXor (sign, flip);

    const F z = L::mul (r, r);

    F cosPoly = L::splat (2.443315711809948e-5f);
    cosPoly = L::add (L::mul (cosPoly, z), L::splat (-1.388731625493765e-3f));
    cosPoly = L::add (L::mul (cosPoly, z), L::splat (4.166664568298827e-2f));
    cosPoly = L::mul (L::mul (cosPoly, z), z);
    cosPoly = L::sub (cosPoly, L::mul (z, L::splat (0.5f)));
    cosPoly = L::add (cosPoly, L::splat (1.0f));

    F sinPoly = L::splat (-1.9515295891e-4f);
    sinPoly = L::add (L::mul (sinPoly, z), L::splat (8.3321608736e-3f));
    sinPoly = L::add (L::mul (sinPoly, z), L::splat (-1.6666654611e-1f));
    sinPoly = L::add (L::mul (L::mul (sinPoly, z), r), r);

    const F result = L::bitOr (L::bitAnd (useSinPoly, sinPoly), L::bitAndNot (useSinPoly, cosPoly));
    return L::bitXor (result, sign);
}

// sin of every lane, valid for |x| <= 8192.
template <typename L>
inline typename L::Float sineInRange (typename L::Float x) noexcept
{
    using F = typename L::Float;
    using I = typename L::Int;

    const F signBit = L::bitsAsFloat (L::splatInt ((int) 0x80000000));
    const F sign = L::bitAnd (x, signBit);
    F ax = L::bitAndNot (signBit, x);

    // Octant j (made even) and the angle's distance from j * pi/4.
    I j = L::truncate (L::mul (ax, L::splat (1.27323954473516f)));
    j = L::andInt (L::addInt (j, L::splatInt (1)), L::splatInt (~1));
    const F y = L::toFloat (j);

    ax = L::sub (ax, L::mul (y, L::splat (0.78515625f)));
    ax = L::sub (ax, L::mul (y, L::splat (2.4187564849853515625e-4f)));
    ax = L::sub (ax, L::mul (y, L::splat (3.77489497744594108e-8f)));

    return sineOfReduced<L> (ax, j, sign);
}

// Nearest integer to each lane (ties to even), for |v| < 2^51: adding and taking away 1.5 * 2^52
// leaves no fraction bits.
template <typename L>
inline typename L::Double nearestInteger (typename L::Double v) noexcept
{
    const auto shifter = L::splatDouble (6755399441055744.0);
    return L::subDouble (L::addDouble (v, shifter), shifter);
}

// Half the lanes of x (in double precision, 8192 < |x| < 2^24): the quadrant q nearest to x, as
// the even octant 2q, and x - q pi/2. pi/2 is split in three: the first two parts have few enough
// bits that q times them is exact, and x - q * part1 is exact as well.
template <typename L>
inline void reduceMidHalf (typename L::Double x, typename L::Double& r, typename L::Double& octant) noexcept
{
    const auto q = nearestInteger<L> (L::mulDouble (x, L::splatDouble (0x1.45f306dc9c883p-1)));
    r = L::subDouble (x, L::mulDouble (q, L::splatDouble (0x1.921fb54p+0)));
    r = L::subDouble (r, L::mulDouble (q, L::splatDouble (0x1.10b461p-30)));
    r = L::subDouble (r, L::mulDouble (q, L::splatDouble (0x1.a62633145c06ep-58)));
    octant = L::addDouble (q, q);
}

// The same for |x| >= 2^24. With x = m 2^e (m a 24-bit integer), the bits of 2/pi above bit
// e - 1 add multiples of 4 to x 2/pi and can go; the next 84 bits, in three pieces of 28, give
// x 2/pi modulo 4 to about 2^-52. Each product of x and a piece is exact; so is taking the
// multiple of 4 away from the first.
template <typename L>
inline void reduceHugeHalf (typename L::Double x, const double* pieces0, const double* pieces1,
                            const double* pieces2, typename L::Double& r, typename L::Double& octant) noexcept
{
    const auto p0 = L::mulDouble (x, L::loadDouble (pieces0));
    const auto fours = nearestInteger<L> (L::mulDouble (p0, L::splatDouble (0.25)));
    const auto a = L::subDouble (p0, L::mulDouble (fours, L::splatDouble (4.0)));
    const auto b = L::addDouble (a, L::mulDouble (x, L::loadDouble (pieces1)));
    const auto q = nearestInteger<L> (b);
    const auto f = L::addDouble (L::subDouble (b, q), L::mulDouble (x, L::loadDouble (pieces2)));
    r = L::mulDouble (f, L::splatDouble (0x1.921fb54442d18p+0));
    octant = L::addDouble (q, q);
}

// sin of every lane with 8192 < |x| < 2^24 (other lanes give values of no use).
template <typename L>
inline typename L::Float sineMid (typename L::Float x) noexcept
{
    typename L::Double rLow, rHigh, octantLow, octantHigh;
    reduceMidHalf<L> (L::lowToDouble (x), rLow, octantLow);
    reduceMidHalf<L> (L::highToDouble (x), rHigh, octantHigh);

    // 2q stays below 2^25 and is even, so it is exact in single precision.
    const auto j = L::truncate (L::fromDoubles (octantLow, octantHigh));
    return sineOfReduced<L> (L::fromDoubles (rLow, rHigh), j, L::zero());
}

// sin of every lane with 2^24 <= |x| and x finite (other lanes give values of no use).
template <typename L>
inline typename L::Float sineHuge (typename L::Float x) noexcept
{
    constexpr int half = L::width / 2;
    alignas (L::alignment) float in[L::width];
    alignas (L::alignment) double pieces[3][L::width];
    L::store (in, x);
    const auto& table = quoril::engine::twoOverPiTable;

    for (int k = 0; k < L::width; ++k)
    {
        std::uint32_t bits;
        std::memcpy (&bits, in + k, sizeof (bits));
        const int biasedExponent = (int) ((bits >> 23) & 0xff);

        // x = m 2^e with e = biasedExponent - 150; the pieces start at bit e - 1 (at least 1).
        const int s = biasedExponent - 151 < 1 ? 1
                    : biasedExponent - 151 > table.size ? table.size
                                                        : biasedExponent - 151;

        for (int p = 0; p < 3; ++p)
            pieces[p][k] = table.pieces[s - 1][p];
    }

    typename L::Double rLow, rHigh, octantLow, octantHigh;
    reduceHugeHalf<L> (L::lowToDouble (x), pieces[0], pieces[1], pieces[2], rLow, octantLow);
    reduceHugeHalf<L> (L::highToDouble (x), pieces[0] + half, pieces[1] + half, pieces[2] + half, rHigh, octantHigh);

    const auto j = L::truncate (L::fromDoubles (octantLow, octantHigh));
    return sineOfReduced<L> (L::fromDoubles (rLow, rHigh), j, L::zero());
}

// sineOfLanes for registers whose lanes need different reductions, or the runtime's sinf.
template <typename L>
[[gnu::noinline]] typename L::Float sineOfMixedLanes (typename L::Float x) noexcept
{
    using F = typename L::Float;

    if (quoril::engine::usePreciseSine)
    {
        alignas (L::alignment) float lanes[L::width];
        L::store (lanes, x);

        for (int k = 0; k < L::width; ++k)
            lanes[k] = std::sin (lanes[k]);

        return L::load (lanes);
    }

    const F ax = L::bitAnd (x, L::bitsAsFloat (L::splatInt (0x7fffffff)));
    const F small = L::lessEqual (ax, L::splat (8192.0f)); // all false for NaN
    const F mid = L::less (ax, L::splat (16777216.0f));
    const F finite = L::lessEqual (ax, L::splat (3.40282347e+38f));
    const int smallBits = L::mask (small), midBits = L::mask (mid), finiteBits = L::mask (finite);

    // Masked lanes see 0, so that no lane converts an out-of-range value.
    F result = sineMid<L> (L::bitAnd (x, mid));

    if (smallBits != 0)
        result = L::bitOr (L::bitAnd (small, sineInRange<L> (L::bitAnd (x, small))), L::bitAndNot (small, result));

    if ((finiteBits & ~midBits) != 0)
    {
        const F huge = L::bitAndNot (mid, finite);
        result = L::bitOr (L::bitAnd (huge, sineHuge<L> (L::bitAnd (x, finite))), L::bitAndNot (huge, result));
    }

    if (finiteBits == L::allLanes)
        return result;

    alignas (L::alignment) float in[L::width], out[L::width];
    L::store (in, x);
    L::store (out, result);

    for (int k = 0; k < L::width; ++k)
        if (((finiteBits >> k) & 1) == 0)
            out[k] = std::sin (in[k]);

    return L::load (out);
}

// sin of every lane: the reduction each lane's size calls for; the runtime's sinf for infinities
// and NaN (and for all lanes while the precise sine is selected). The two common cases, every
// lane within 8192 and every lane beyond it (below 2^24), stay inline.
template <typename L>
[[gnu::always_inline]] inline typename L::Float sineOfLanes (typename L::Float x) noexcept
{
    using F = typename L::Float;

    if (! quoril::engine::usePreciseSine)
    {
        const F ax = L::bitAnd (x, L::bitsAsFloat (L::splatInt (0x7fffffff)));
        const int smallBits = L::mask (L::lessEqual (ax, L::splat (8192.0f)));

        if (smallBits == L::allLanes)
            return sineInRange<L> (x);

        if (smallBits == 0 && L::mask (L::less (ax, L::splat (16777216.0f))) == L::allLanes)
            return sineMid<L> (x);
    }

    return sineOfMixedLanes<L> (x);
}
} // namespace
