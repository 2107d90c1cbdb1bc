#pragma once

// The engine's block sine on a register of float lanes (Lanes4.h or Lanes8.h): a Cody-Waite
// reduction to [-pi/4, pi/4] and minimax polynomials, within about 2e-7 of the runtime's sinf
// for |x| up to 8192. Internal linkage, so that the AVX2 translation units keep their own copy.
// Include <cmath> and FastSine.h before this header.

namespace
{
// sin of every lane, valid for |x| <= 8192.
template <typename L>
inline typename L::Float sineInRange (typename L::Float x) noexcept
{
    using F = typename L::Float;
    using I = typename L::Int;

    const F signBit = L::bitsAsFloat (L::splatInt ((int) 0x80000000));
    F sign = L::bitAnd (x, signBit);
    F ax = L::bitAndNot (signBit, x);

    // Octant j (made even), the angle's distance from j * pi/4, and which polynomial and sign.
    I j = L::truncate (L::mul (ax, L::splat (1.27323954473516f)));
    j = L::andInt (L::addInt (j, L::splatInt (1)), L::splatInt (~1));
    const F y = L::toFloat (j);
    const F flip = L::bitsAsFloat (L::template shiftLeftInt<29> (L::andInt (j, L::splatInt (4))));
    const F useSinPoly = L::bitsAsFloat (L::equalInt (L::andInt (j, L::splatInt (2)), L::zeroInt()));
    sign = L::bitXor (sign, flip);

    ax = L::sub (ax, L::mul (y, L::splat (0.78515625f)));
    ax = L::sub (ax, L::mul (y, L::splat (2.4187564849853515625e-4f)));
    ax = L::sub (ax, L::mul (y, L::splat (3.77489497744594108e-8f)));

    const F z = L::mul (ax, ax);

    F cosPoly = L::splat (2.443315711809948e-5f);
    cosPoly = L::add (L::mul (cosPoly, z), L::splat (-1.388731625493765e-3f));
    cosPoly = L::add (L::mul (cosPoly, z), L::splat (4.166664568298827e-2f));
    cosPoly = L::mul (L::mul (cosPoly, z), z);
    cosPoly = L::sub (cosPoly, L::mul (z, L::splat (0.5f)));
    cosPoly = L::add (cosPoly, L::splat (1.0f));

    F sinPoly = L::splat (-1.9515295891e-4f);
    sinPoly = L::add (L::mul (sinPoly, z), L::splat (8.3321608736e-3f));
    sinPoly = L::add (L::mul (sinPoly, z), L::splat (-1.6666654611e-1f));
    sinPoly = L::add (L::mul (L::mul (sinPoly, z), ax), ax);

    const F result = L::bitOr (L::bitAnd (useSinPoly, sinPoly), L::bitAndNot (useSinPoly, cosPoly));
    return L::bitXor (result, sign);
}

// sin of every lane: the block sine for the lanes in its range, the runtime's sinf for the others
// (and for all lanes while the precise sine is selected).
template <typename L>
inline typename L::Float sineOfLanes (typename L::Float x) noexcept
{
    using F = typename L::Float;

    const F absMask = L::bitsAsFloat (L::splatInt (0x7fffffff));
    const F inRange = L::lessEqual (L::bitAnd (x, absMask), L::splat (8192.0f));
    const int rangeBits = L::mask (inRange);

    if (! quoril::engine::usePreciseSine && rangeBits == L::allLanes)
        return sineInRange<L> (x);

    alignas (L::alignment) float in[L::width], fast[L::width];
    L::store (in, x);
    L::store (fast, sineInRange<L> (L::bitAnd (x, inRange)));

    for (int k = 0; k < L::width; ++k)
        if (quoril::engine::usePreciseSine || ((rangeBits >> k) & 1) == 0)
            fast[k] = std::sin (in[k]);

    return L::load (fast);
}
} // namespace
