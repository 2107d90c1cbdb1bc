#pragma once

// The granulizer's block processing over one chunk with the grains taken L::width at a time
// (Lanes4.h: four with SSE2, Lanes8.h: eight with AVX2). The same steps in the same order as the
// grain-by-grain loop: a group of grains whose positions all lie inside the ring (the ordinary
// case) is worked out in SIMD lanes, and its parts are added to the sample's sum one after the
// other in slot order, so every sum is the one that the grain-by-grain loop gives. Groups with
// anything out of the ordinary at a sample (a reset position, a read at the last index, a grain
// that is skipped, a wrap or a take-over) go through the grain-by-grain step for that sample.
//
// Internal linkage, like GranulizerSteps.h: each instruction set's translation unit keeps its own
// copy. Include the standard and JUCE headers and the lane header before this one.

#include "GranulizerSteps.h"

namespace
{
// The granulizer's window must already be prepared for the chunk.
template <typename L>
void processChunkInLanes (Granulizer& granulizer, const float* input, float* output, int numSamples, int length) noexcept
{
    using F = typename L::Float;
    using I = typename L::Int;
    constexpr int width = L::width;

    float* data = granulizer.buffer.getWritePointer (0);
    Grain* grains = granulizer.grains;
    const bool recording = ! granulizer.settings.freeze;

    if (recording && (granulizer.writeIndex < 0 || granulizer.writeIndex >= length))
        granulizer.writeIndex = 0;

    int head = granulizer.writeIndex; // the write position, kept out of memory during the loop
    const int count = granulizer.activeGrainCount();
    const int numGroups = count / width;
    const float speed = granulizer.settings.speed;
    const float gain = granulizer.settings.outGain;
    const bool retriggerFirst = granulizer.retrigger != 0;
    SampleContext context { data, granulizer.windowTable, length, (float) (length - 1), speed, retriggerFirst };

    GrainLanes lanes;
    GroupState groups[Granulizer::maxGrains / L::width];

    auto loadGroup = [&] (int group)
    {
        bool skipped = false;
        int pending = 0;

        for (int k = group * width; k < group * width + width; ++k)
        {
            lanes.load (grains[k], k, speed, length, skipped);
            pending |= grains[k].pending ? 1 << (k - group * width) : 0;
        }

        groups[group] = { skipped, pending };
    };

    // The grain-by-grain step for one grain of a group: through its record, then back.
    auto stepLane = [&] (int k, float& sum)
    {
        grains[k].pos = lanes.pos[k];
        grains[k].lastPos = lanes.lastPos[k];
        stepGrain (grains[k], sum, context);
    };

    for (int group = 0; group < numGroups; ++group)
        loadGroup (group);

    const F zero = L::zero();
    const F one = L::splat (1.0f);
    const F windowScale = L::splat (2047.0f);
    const F lastIndex = L::splat (context.lastIndex);
    const float* window = granulizer.windowTable;

    for (int t = 0; t < numSamples; ++t)
    {
        if (recording)
        {
            data[head] = input[t];

            if (++head >= length)
                head = 0;
        }

        context.retrigger = t == 0 && retriggerFirst;
        float sum = 0.0f;

        for (int group = 0; group < numGroups; ++group)
        {
            const int k0 = group * width;
            const F p = L::load (lanes.pos + k0);
            const F inRing = L::bitAnd (L::greaterEqual (p, zero), L::less (p, lastIndex));

            if (groups[group].scalar || L::mask (inRing) != L::allLanes)
            {
                for (int k = k0; k < k0 + width; ++k)
                    stepLane (k, sum);

                loadGroup (group);
                continue;
            }

            F phase = L::mul (L::sub (p, L::load (lanes.start + k0)), L::load (lanes.invLength + k0));
            phase = L::min (L::max (phase, zero), one);

            alignas (L::alignment) int windowIndex[L::width];
            alignas (L::alignment) int readIndex[L::width];
            L::storeInt (windowIndex, L::truncate (L::mul (phase, windowScale)));
            const I whole = L::truncate (p);
            L::storeInt (readIndex, whole);
            const F frac = L::sub (p, L::toFloat (whole));

            const F w = L::gather (window, windowIndex);
            F a, b;
            L::gatherNeighbours (data, readIndex, a, b);

            const F s = L::add (L::mul (L::sub (b, a), frac), a);
            alignas (L::alignment) float part[L::width];
            L::store (part, L::mul (s, L::mul (w, L::load (lanes.amplitude + k0))));

            for (float v : part)
                sum += v;

            const F next = L::add (L::load (lanes.rate + k0), p);
            L::store (lanes.lastPos + k0, p);
            L::store (lanes.pos + k0, next);

            const int wrapped = L::mask (L::greaterEqual (next, L::load (lanes.end + k0)));

            if (wrapped != 0)
            {
                for (int k = k0; k < k0 + width; ++k)
                {
                    if (((wrapped >> (k - k0)) & 1) == 0)
                        continue;

                    float& pos = lanes.pos[k];
                    const float end = lanes.end[k];
                    pos = (pos - end) + lanes.start[k];

                    if (pos >= end)
                        pos = wrapIntoSegment (pos, grains[k].start, std::max (1, grains[k].length));
                }
            }

            if (groups[group].pendingLanes != 0)
            {
                // A pending grain takes its new segment when it went backwards (it wrapped) or
                // on the first sample after construction.
                const int backwards = L::mask (L::greater (p, L::load (lanes.pos + k0)));
                const int takers = (context.retrigger ? L::allLanes : backwards) & groups[group].pendingLanes;

                if (takers != 0)
                {
                    for (int k = k0; k < k0 + width; ++k)
                    {
                        grains[k].pos = lanes.pos[k];
                        grains[k].lastPos = lanes.lastPos[k];

                        if ((takers >> (k - k0)) & 1)
                            takeOverPendingSegment (grains[k], length);
                    }

                    loadGroup (group);
                }
            }
        }

        for (int k = numGroups * width; k < count; ++k)
            stepGrain (grains[k], sum, context);

        output[t] = finiteOrZero (sum * gain);
    }

    granulizer.writeIndex = head;

    if (numSamples > 0)
        granulizer.retrigger = 0;

    for (int k = 0; k < numGroups * width; ++k)
    {
        grains[k].pos = lanes.pos[k];
        grains[k].lastPos = lanes.lastPos[k];
    }
}
} // namespace
