#pragma once

// Block sine for the resonators: four lanes at a time with SSE2 (the lane arithmetic is in
// SineLanes.h), within about 2e-7 of the runtime's sinf for every finite argument. Infinities
// and NaN go through the runtime's sinf.
namespace quoril::engine
{
// When set, sineBlock uses the runtime's sinf for every sample (for comparisons with the plain
// sample-by-sample arithmetic; the result then matches it bit for bit).
inline bool usePreciseSine = false;

// out[i] = scale * sin(in[i]) for i in 0 .. n - 1; in and out may be the same array.
void sineBlock (const float* in, float* out, int n, float scale) noexcept;
} // namespace quoril::engine
