#pragma once

// The granulizer's group-by-group block processing for chunks whose grain groups (L::width grains:
// four with SSE2, eight with AVX2) are all whole and inside the ring: each group runs over the
// whole chunk with its state in registers, and the groups add their parts to the samples' sums
// one after the other, in slot order. The operations and their order are those of the
// grain-by-grain loop, so every sum is the one it gives.
//
// Internal linkage, like GranulizerLanes.h: each instruction set's translation unit keeps its own
// copy. Include the standard and JUCE headers and the lane header before this one.

#include "GranulizerSteps.h"

namespace
{
// What a group of grains needs to run over a chunk.
struct ChunkInfo
{
    float* data;
    const float* window;
    const float* input;
    float* history;         // values the chunk's writes replaced (kept only when later groups need them)
    int length;
    int writeStart;
    int chunkLength;
    float lastIndex;
    float speed;
    bool recording;
    bool retriggerFirst;
};

// The ring at index k as the sample-by-sample order sees it at chunk time t, once the whole
// chunk has been recorded: an index written later in the chunk still holds its old value.
inline float ringAt (const ChunkInfo& c, int k, int t) noexcept
{
    if (! c.recording)
        return c.data[k];

    int d = k - c.writeStart;

    if (d < 0)
        d += c.length;

    return (d > t && d < c.chunkLength) ? c.history[d] : c.data[k];
}

// False when no grain of the group can read an index the chunk writes: every position a grain
// can reach in the chunk (its position, its segment and a pending one, give or take one chunk of
// steps) stays clear of the written range and of the ring's ends.
template <int width>
bool groupMayReadChunkWrites (const Grain* group, const ChunkInfo& c) noexcept
{
    if (! c.recording)
        return false;

    for (int k = 0; k < width; ++k)
    {
        const auto& grain = group[k];
        const float span = std::fabs (c.speed + grain.rateOffset) * (float) c.chunkLength + 2.0f;
        float lo = std::min (grain.pos, (float) grain.start);
        float hi = std::max (grain.pos, (float) ((juce::int64) grain.start + std::max (1, grain.length)));

        if (grain.pending)
        {
            lo = std::min (lo, (float) grain.newStart);
            hi = std::max (hi, (float) ((juce::int64) grain.newStart + std::max (1, grain.newLength)));
        }

        lo -= span;
        hi += span;

        if (! (lo >= 1.0f && hi <= (float) (c.length - 2)))
            return true;

        const auto firstWritten = (float) c.writeStart;
        const auto lastWritten = (float) (c.writeStart + c.chunkLength - 1);
        const bool hits = lastWritten < (float) c.length
                              ? ! (hi < firstWritten || lo > lastWritten)
                              : (! (hi < firstWritten) || ! (lo > lastWritten - (float) c.length));

        if (hits)
            return true;
    }

    return false;
}

// A group of grains over the whole chunk with their state in registers, adding into the per-sample
// sums in slot order. The first group records the input as it goes, so it reads the ring as the
// sample-by-sample order does; later groups read it through the chunk's history where needed.
template <typename L, bool firstGroup, bool checkHistory>
void runGroup (Grain* group, float* sums, const ChunkInfo& c, int& head) noexcept
{
    const SampleContext context { c.data, c.window, c.length, c.lastIndex, c.speed, false };
    using F = typename L::Float;
    using I = typename L::Int;
    constexpr int width = L::width;

    const F zero = L::zero();
    const F one = L::splat (1.0f);
    const F windowScale = L::splat (2047.0f);
    const F lastIndex = L::splat (c.lastIndex);
    F p, lastP, start, invLength, rate, amplitude, end;
    int pending = 0;

    auto load = [&]
    {
        alignas (L::alignment) float f[7][(size_t) width];

        for (int k = 0; k < width; ++k)
        {
            const auto& g = group[k];
            f[0][k] = g.pos;
            f[1][k] = g.lastPos;
            f[2][k] = (float) g.start;
            f[3][k] = g.invLength;
            f[4][k] = c.speed + g.rateOffset;
            f[5][k] = g.amplitude;
            f[6][k] = (float) ((juce::int64) g.start + std::max (1, g.length));
        }

        p = L::load (f[0]);
        lastP = L::load (f[1]);
        start = L::load (f[2]);
        invLength = L::load (f[3]);
        rate = L::load (f[4]);
        amplitude = L::load (f[5]);
        end = L::load (f[6]);

        pending = 0;

        for (int k = 0; k < width; ++k)
            pending |= group[k].pending ? 1 << k : 0;
    };

    auto store = [&]
    {
        alignas (L::alignment) float f[2][(size_t) width];
        L::store (f[0], p);
        L::store (f[1], lastP);

        for (int k = 0; k < width; ++k)
        {
            group[k].pos = f[0][k];
            group[k].lastPos = f[1][k];
        }
    };

    auto anySkipped = [&]
    {
        for (int k = 0; k < width; ++k)
            if ((juce::int64) group[k].start + std::max (1, group[k].length) >= c.length)
                return true;

        return false;
    };

    // The first group records the chunk's input at time t, keeping what it overwrites.
    auto record = [&] (int t)
    {
        if constexpr (firstGroup)
        {
            if (c.recording)
            {
                if (c.history != nullptr)
                    c.history[t] = c.data[head];

                c.data[head] = c.input[t];

                if (++head >= c.length)
                    head = 0;
            }
        }
    };

    // The grains' parts of up to `width` samples from rowStart on, waiting to be added to the sums.
    alignas (L::alignment) float rows[(size_t) width][(size_t) width];
    int rowStart = 0, numRows = 0;

    auto addWaitingRows = [&]
    {
        if (numRows == width)
        {
            L::addRowsToSums (rows[0], sums + rowStart, firstGroup);
        }
        else
        {
            for (int r = 0; r < numRows; ++r)
            {
                float sum = firstGroup ? 0.0f : sums[rowStart + r];

                for (float v : rows[r])
                    sum += v;

                sums[rowStart + r] = sum;
            }
        }

        numRows = 0;
    };

    // Samples from..end grain by grain through the records (with the records up to date).
    auto finishGrainByGrain = [&] (int from)
    {
        addWaitingRows();

        for (int t = from; t < c.chunkLength; ++t)
        {
            record (t);

            auto stepContext = context;
            stepContext.retrigger = t == 0 && c.retriggerFirst;
            float sum = firstGroup ? 0.0f : sums[t];

            for (int k = 0; k < width; ++k)
            {
                if constexpr (firstGroup)
                    stepGrain (group[k], sum, stepContext);
                else
                    stepGrainWith (group[k], sum, stepContext, [&] (int index) { return ringAt (c, index, t); });
            }

            sums[t] = sum;
        }
    };

    load();

    for (int t = 0; t < c.chunkLength; ++t)
    {
        const F inRing = L::bitAnd (L::greaterEqual (p, zero), L::less (p, lastIndex));

        if (L::mask (inRing) != L::allLanes)
        {
            // A position outside the ring or on its last index: grain by grain from here.
            store();
            finishGrainByGrain (t);
            return;
        }

        record (t);

        F phase = L::mul (L::sub (p, start), invLength);
        phase = L::min (L::max (phase, zero), one);

        const I windowIndex = L::truncate (L::mul (phase, windowScale));
        const I whole = L::truncate (p);
        const F frac = L::sub (p, L::toFloat (whole));
        alignas (L::alignment) int wi[(size_t) width], ri[(size_t) width];
        L::storeInt (wi, windowIndex);
        L::storeInt (ri, whole);
        const F w = L::gather (c.window, wi);
        F a, b;
        L::gatherNeighbours (c.data, ri, a, b);

        if constexpr (checkHistory)
        {
            // Lanes whose index or its neighbour the chunk writes only after time t.
            I d = L::subInt (whole, L::splatInt (c.writeStart));
            d = L::addInt (d, L::andInt (L::greaterInt (L::zeroInt(), d), L::splatInt (c.length)));
            const I affected = L::andInt (L::greaterInt (d, L::splatInt (t - 1)), L::greaterInt (L::splatInt (c.chunkLength), d));
            const int lanesAffected = L::mask (L::bitsAsFloat (affected));

            if (lanesAffected != 0)
            {
                alignas (L::alignment) int index[(size_t) width];
                alignas (L::alignment) float fa[(size_t) width], fb[(size_t) width];
                L::storeInt (index, whole);
                L::store (fa, a);
                L::store (fb, b);

                for (int k = 0; k < width; ++k)
                {
                    if ((lanesAffected >> k) & 1)
                    {
                        fa[k] = ringAt (c, index[k], t);
                        fb[k] = ringAt (c, index[k] + 1, t);
                    }
                }

                a = L::load (fa);
                b = L::load (fb);
            }
        }

        const F s = L::add (L::mul (L::sub (b, a), frac), a);

        if (numRows == 0)
            rowStart = t;

        L::store (rows[numRows], L::mul (s, L::mul (w, amplitude)));

        if (++numRows == width)
            addWaitingRows();

        lastP = p;
        p = L::add (rate, p);

        const int wrapped = L::mask (L::greaterEqual (p, end));
        const bool takeOverDue = pending != 0 && ((t == 0 && c.retriggerFirst) || L::mask (L::greater (lastP, p)) != 0);

        if (wrapped != 0 || takeOverDue)
        {
            // Wraps and take-overs, grain by grain through the records.
            store();

            for (int k = 0; k < width; ++k)
            {
                auto& grain = group[k];

                if ((wrapped >> k) & 1)
                {
                    const int effectiveLength = std::max (1, grain.length);
                    const auto segmentEnd = (float) ((juce::int64) grain.start + effectiveLength);
                    grain.pos = (grain.pos - segmentEnd) + (float) grain.start;

                    if (grain.pos >= segmentEnd)
                        grain.pos = wrapIntoSegment (grain.pos, grain.start, effectiveLength);
                }

                if (grain.pending && (grain.lastPos > grain.pos || (t == 0 && c.retriggerFirst)))
                    takeOverPendingSegment (grain, c.length);
            }

            // A new segment that reaches the end of the ring is skipped from now on.
            if (anySkipped())
            {
                finishGrainByGrain (t + 1);
                return;
            }

            load();
        }
    }

    addWaitingRows();
    store();
}
// The granulizer's window must already be prepared for the chunk; numSamples is at most chunkSize and
// below length.
template <typename L, int chunkSize>
void processChunkInGroups (Granulizer& granulizer, const float* input, float* output, int numSamples, int length) noexcept
{
    float* data = granulizer.buffer.getWritePointer (0);
    const bool recording = ! granulizer.settings.freeze;

    if (recording && (granulizer.writeIndex < 0 || granulizer.writeIndex >= length))
        granulizer.writeIndex = 0;

    float history[(size_t) chunkSize];
    alignas (L::alignment) float sums[(size_t) chunkSize];
    const int numGroups = granulizer.activeGrainCount() / L::width;
    const ChunkInfo info { data, granulizer.windowTable, input, numGroups > 1 ? history : nullptr, length, granulizer.writeIndex, numSamples,
                           (float) (length - 1), granulizer.settings.speed, recording, granulizer.retrigger != 0 };
    int head = granulizer.writeIndex;

    if (numGroups == 0)
    {
        for (int t = 0; t < numSamples; ++t)
        {
            sums[t] = 0.0f;

            if (recording)
            {
                data[head] = input[t];

                if (++head >= length)
                    head = 0;
            }
        }
    }

    for (int group = 0; group < numGroups; ++group)
    {
        Grain* g = granulizer.grains + group * L::width;

        if (group == 0)
            runGroup<L, true, false> (g, sums, info, head);
        else if (groupMayReadChunkWrites<L::width> (g, info))
            runGroup<L, false, true> (g, sums, info, head);
        else
            runGroup<L, false, false> (g, sums, info, head);
    }

    granulizer.writeIndex = head;

    if (numSamples > 0)
        granulizer.retrigger = 0;

    const float gain = granulizer.settings.outGain;

    for (int t = 0; t < numSamples; ++t)
        output[t] = finiteOrZero (sums[t] * gain);
}
} // namespace
