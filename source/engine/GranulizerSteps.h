#pragma once

// The per-grain steps shared by the granulizer's processing paths. Everything here has internal
// linkage on purpose: the wide-lane path compiles these helpers for its own instruction set, so
// each translation unit must keep its own copy. Include the standard and JUCE headers before
// this one.

#include "Granulizer.h"
#include "EngineMath.h"

#include <algorithm>
#include <cmath>

namespace
{
using namespace quoril::engine;

// Wraps a position that is still at or beyond the segment end after one wrap step.
// For finite positions below 2^24 every step (pos - end) + start is exact, so the
// remainder taken in double precision equals the result of repeating the step; larger or
// non-finite positions (only reachable through bad settings) land on the segment start.
float wrapIntoSegment (float pos, int start, int effectiveLength) noexcept
{
    if (! std::isfinite (pos))
        return (float) start;

    const double offset = (double) pos - (double) start;
    const double wrapped = (double) start + std::fmod (offset, (double) effectiveLength);
    const auto result = (float) wrapped;
    const auto end = (float) ((juce::int64) start + effectiveLength);

    return (result >= end || ! (result >= (float) start)) ? (float) start : result;
}
// Installs the grain's pending segment if it lies inside the ring, and clears the pending flag.
inline void takeOverPendingSegment (Grain& grain, int length) noexcept
{
    if ((juce::int64) grain.newStart + grain.newLength < length)
    {
        grain.start = grain.newStart;
        grain.length = grain.newLength;
        grain.pos = (float) grain.newStart;
        grain.invLength = grain.newLength > 0 ? 1.0f / (float) grain.newLength : 0.0f;
    }

    grain.pending = false;
}

// What one sample of grain processing needs besides the grain.
struct SampleContext
{
    const float* data;
    const float* window;
    int length;           // ring length
    float lastIndex;      // length - 1
    float speed;
    bool retrigger;
};

// One grain at one sample (reading the ring through read): the window value at its position, the interpolated read, the step,
// the wrap into its segment and the take-over of a pending segment. Adds the grain's part to sum.
template <typename Read>
inline void stepGrainWith (Grain& grain, float& sum, const SampleContext& c, Read read) noexcept
{
    // A segment shorter than one sample counts as one sample.
    const int effectiveLength = std::max (1, grain.length);
    const auto segmentEnd = (juce::int64) grain.start + effectiveLength;

    // A segment that reaches the end of the ring (possible after a change of rate) is skipped.
    // Such a grain never wraps, so a segment drawn for it replaces it at once.
    if (segmentEnd >= c.length)
    {
        if (grain.pending)
            takeOverPendingSegment (grain, c.length);

        return;
    }

    const float phase = clampOrLow ((grain.pos - (float) grain.start) * grain.invLength, 0.0f, 1.0f);
    const float w = c.window[(int) (phase * 2047.0f)];

    if (! (grain.pos >= 0.0f && grain.pos <= c.lastIndex))
        grain.pos = 0.0f;

    const float p = grain.pos;
    const int i = (int) p;
    const float frac = p - (float) i;
    const float a = read (i);
    const float b = p < c.lastIndex ? read (i + 1) : read (0);
    const float s = (b - a) * frac + a;

    grain.lastPos = p;
    sum += s * (w * grain.amplitude);
    grain.pos = (c.speed + grain.rateOffset) + p;

    const auto end = (float) segmentEnd;

    if (grain.pos >= end)
    {
        grain.pos = (grain.pos - end) + (float) grain.start;

        if (grain.pos >= end)
            grain.pos = wrapIntoSegment (grain.pos, grain.start, effectiveLength);
    }

    if (grain.pending && (grain.lastPos > grain.pos || c.retrigger))
        takeOverPendingSegment (grain, c.length);
}

inline void stepGrain (Grain& grain, float& sum, const SampleContext& c) noexcept
{
    stepGrainWith (grain, sum, c, [&c] (int k) { return c.data[k]; });
}
struct GrainLanes
{
    static constexpr int size = Granulizer::maxGrains;

    alignas (32) float pos[size];
    alignas (32) float lastPos[size];
    alignas (32) float start[size];
    alignas (32) float end[size];
    alignas (32) float invLength[size];
    alignas (32) float rate[size];
    alignas (32) float amplitude[size];

    void load (const Grain& g, int k, float speed, int length, bool& skipped) noexcept
    {
        const int effectiveLength = std::max (1, g.length);
        const auto segmentEnd = (juce::int64) g.start + effectiveLength;
        pos[k] = g.pos;
        lastPos[k] = g.lastPos;
        start[k] = (float) g.start;
        end[k] = (float) segmentEnd;
        invLength[k] = g.invLength;
        rate[k] = speed + g.rateOffset;
        amplitude[k] = g.amplitude;
        skipped = skipped || segmentEnd >= length;
    }
};

struct GroupState
{
    bool scalar;      // some grain of the group is skipped: the group goes grain by grain
    int pendingLanes; // bit k: grain k of the group waits for a take-over
};
} // namespace
