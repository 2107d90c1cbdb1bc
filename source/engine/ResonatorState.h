#pragma once

#include <cmath>
#include "EngineMath.h"

// Processing state of one pole's resonator on one channel: a feedback loop through six
// first-order allpass sections. processBlock runs it; the engine set-up builds and clears it.
struct ResonatorState
{
    float freq = 220.0f;              // Hz, copied from the settings at the start of each block
    float feed = 0.9f;                // feedback, copied likewise
    double sampleRate = 44100.0;      // rate the coefficient is computed for
    double allpassStates[6] = {};     // section states, index 0..5
    float lastOut = 0.0f;             // chain output of the previous sample (feedback tap)
    float coefficient = 0.9f;         // section coefficient, recomputed every block
};

// One channel's 20 Hz DC blocker, in double precision.
struct DcBlocker
{
    double previousInput = 0.0;
    double previousOutput = 0.0;
    double coefficient = 0.0;
};

namespace quoril::engine
{
// Section coefficient for a frequency: 1 - 4 f / rate, within 0..1. A frequency that makes it
// NaN (NaN itself, or a rate of 0 with a frequency of 0) gives 0, a plain one-sample delay.
inline float resonatorCoefficient (float freq, double sampleRate) noexcept
{
    return (float) clampOrLow (1.0 - ((double) freq / sampleRate) * 4.0, 0.0, 1.0);
}

// The feedback actually applied: within 0..0.99, NaN as 0.
inline float resonatorFeedback (float feed) noexcept
{
    return clampOrLow (feed, 0.0f, 0.99f);
}

// The chain of six allpass sections, last index first, on the input v; double-precision states,
// single-precision signal between the sections.
inline float runAllpassChain (double* states, double c, float v) noexcept
{
    for (int k = 5; k >= 0; --k)
    {
        const double s = states[k];
        states[k] = c * s + (double) v;
        v = (float) (s - c * states[k]);
    }

    return v;
}

// One resonator sample for the granulizer output g: returns the shaped output and keeps the
// chain output as the next feedback tap.
inline float processResonator (ResonatorState& r, float g) noexcept
{
    const float v = resonatorFeedback (r.feed) * r.lastOut + 0.9f * std::sin (g);
    const float chained = runAllpassChain (r.allpassStates, (double) r.coefficient, v);
    r.lastOut = chained;
    return std::sin (chained);
}

// Clears a resonator whose memory holds a non-finite value.
inline void recoverIfNonFinite (ResonatorState& r) noexcept
{
    bool finite = std::isfinite (r.lastOut);

    for (double s : r.allpassStates)
        finite = finite && std::isfinite (s);

    if (! finite)
    {
        for (double& s : r.allpassStates)
            s = 0.0;

        r.lastOut = 0.0f;
    }
}

inline void recoverIfNonFinite (DcBlocker& b) noexcept
{
    if (! std::isfinite (b.previousInput) || ! std::isfinite (b.previousOutput))
        b.previousInput = b.previousOutput = 0.0;
}
} // namespace quoril::engine
