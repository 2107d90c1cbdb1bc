#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

// Small arithmetic helpers of the sound engine. Settings arrive unchecked from saved states and
// presets, so every conversion that could meet an infinite, NaN or out-of-range value goes through
// one of these. For ordinary values they give exactly what the plain expression gives.
namespace quoril::engine
{
// Truncation towards zero, defined for every value: NaN gives 0, values beyond the int range
// saturate. Inside the range it is the plain (int) cast.
inline int truncateToInt (float value) noexcept
{
    if (value > -2147483648.0f && value < 2147483648.0f)
        return (int) value;

    if (value != value)
        return 0;

    return value > 0.0f ? INT_MAX : INT_MIN;
}

inline int truncateToInt (double value) noexcept
{
    if (value > -2147483649.0 && value < 2147483648.0)
        return (int) value;

    if (value != value)
        return 0;

    return value > 0.0 ? INT_MAX : INT_MIN;
}

// Clamp to lo..hi where a NaN counts as lo.
inline float clampOrLow (float value, float lo, float hi) noexcept
{
    if (! (value > lo))
        return lo;

    return value > hi ? hi : value;
}

inline double clampOrLow (double value, double lo, double hi) noexcept
{
    if (! (value > lo))
        return lo;

    return value > hi ? hi : value;
}

inline bool isFinite (float value) noexcept { return std::isfinite (value); }
inline bool isFinite (double value) noexcept { return std::isfinite (value); }

// A product or sum that came out infinite or NaN is used as 0.
inline float finiteOrZero (float value) noexcept { return std::isfinite (value) ? value : 0.0f; }
} // namespace quoril::engine
