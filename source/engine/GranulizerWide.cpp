// The granulizer's block processing with eight grains per group, for processors with AVX2: the
// lane path of GranulizerLanes.h on eight lanes, and a group-by-group path for chunks whose
// groups are all whole and inside the ring. Every value is computed with the same operations in
// the same order as in the four-lane path, so both give the same results. Only this file is
// compiled for AVX2, and the processing dispatches to it after checking the processor.

#include "Granulizer.h"
#include "EngineMath.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

#include "Avx2Begin.h"

#include "Lanes8.h"
#include "GranulizerLanes.h"

namespace
{
// What a group of eight grains needs to run over a chunk.
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
bool groupMayReadChunkWrites (const Grain* group, const ChunkInfo& c) noexcept
{
    if (! c.recording)
        return false;

    for (int k = 0; k < 8; ++k)
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

// Eight grains over the whole chunk with their state in registers, adding into the per-sample
// sums in slot order. The first group records the input as it goes, so it reads the ring as the
// sample-by-sample order does; later groups read it through the chunk's history where needed.
template <bool firstGroup, bool checkHistory>
void runGroup (Grain* group, float* sums, const ChunkInfo& c, int& head) noexcept
{
    const SampleContext context { c.data, c.window, c.length, c.lastIndex, c.speed, false };
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps (1.0f);
    const __m256 windowScale = _mm256_set1_ps (2047.0f);
    const __m256 lastIndex = _mm256_set1_ps (c.lastIndex);
    __m256 p, lastP, start, invLength, rate, amplitude, end;
    int pending = 0;

    auto load = [&]
    {
        alignas (32) float f[7][8];

        for (int k = 0; k < 8; ++k)
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

        p = _mm256_load_ps (f[0]);
        lastP = _mm256_load_ps (f[1]);
        start = _mm256_load_ps (f[2]);
        invLength = _mm256_load_ps (f[3]);
        rate = _mm256_load_ps (f[4]);
        amplitude = _mm256_load_ps (f[5]);
        end = _mm256_load_ps (f[6]);

        pending = 0;

        for (int k = 0; k < 8; ++k)
            pending |= group[k].pending ? 1 << k : 0;
    };

    auto store = [&]
    {
        alignas (32) float f[2][8];
        _mm256_store_ps (f[0], p);
        _mm256_store_ps (f[1], lastP);

        for (int k = 0; k < 8; ++k)
        {
            group[k].pos = f[0][k];
            group[k].lastPos = f[1][k];
        }
    };

    auto anySkipped = [&]
    {
        for (int k = 0; k < 8; ++k)
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

    // Samples from..end grain by grain through the records (with the records up to date).
    auto finishGrainByGrain = [&] (int from)
    {
        for (int t = from; t < c.chunkLength; ++t)
        {
            record (t);

            auto stepContext = context;
            stepContext.retrigger = t == 0 && c.retriggerFirst;
            float sum = firstGroup ? 0.0f : sums[t];

            for (int k = 0; k < 8; ++k)
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
        const __m256 inRing = _mm256_and_ps (_mm256_cmp_ps (p, zero, _CMP_GE_OQ), _mm256_cmp_ps (p, lastIndex, _CMP_LT_OQ));

        if (_mm256_movemask_ps (inRing) != 0xff)
        {
            // A position outside the ring or on its last index: grain by grain from here.
            store();
            finishGrainByGrain (t);
            return;
        }

        record (t);

        float sum = firstGroup ? 0.0f : sums[t];

        __m256 phase = _mm256_mul_ps (_mm256_sub_ps (p, start), invLength);
        phase = _mm256_min_ps (_mm256_max_ps (phase, zero), one);

        const __m256i windowIndex = _mm256_cvttps_epi32 (_mm256_mul_ps (phase, windowScale));
        const __m256i whole = _mm256_cvttps_epi32 (p);
        const __m256 frac = _mm256_sub_ps (p, _mm256_cvtepi32_ps (whole));
        alignas (32) int wi[8], ri[8];
        _mm256_store_si256 (reinterpret_cast<__m256i*> (wi), windowIndex);
        _mm256_store_si256 (reinterpret_cast<__m256i*> (ri), whole);
        const __m256 w = Lanes8::gather (c.window, wi);
        __m256 a, b;
        Lanes8::gatherNeighbours (c.data, ri, a, b);

        if constexpr (checkHistory)
        {
            // Lanes whose index or its neighbour the chunk writes only after time t.
            __m256i d = _mm256_sub_epi32 (whole, _mm256_set1_epi32 (c.writeStart));
            d = _mm256_add_epi32 (d, _mm256_and_si256 (_mm256_cmpgt_epi32 (_mm256_setzero_si256(), d), _mm256_set1_epi32 (c.length)));
            const __m256i affected = _mm256_and_si256 (_mm256_cmpgt_epi32 (d, _mm256_set1_epi32 (t - 1)),
                                                       _mm256_cmpgt_epi32 (_mm256_set1_epi32 (c.chunkLength), d));
            const int lanesAffected = _mm256_movemask_ps (_mm256_castsi256_ps (affected));

            if (lanesAffected != 0)
            {
                alignas (32) int index[8];
                alignas (32) float fa[8], fb[8];
                _mm256_store_si256 (reinterpret_cast<__m256i*> (index), whole);
                _mm256_store_ps (fa, a);
                _mm256_store_ps (fb, b);

                for (int k = 0; k < 8; ++k)
                {
                    if ((lanesAffected >> k) & 1)
                    {
                        fa[k] = ringAt (c, index[k], t);
                        fb[k] = ringAt (c, index[k] + 1, t);
                    }
                }

                a = _mm256_load_ps (fa);
                b = _mm256_load_ps (fb);
            }
        }

        const __m256 s = _mm256_add_ps (_mm256_mul_ps (_mm256_sub_ps (b, a), frac), a);
        alignas (32) float part[8];
        _mm256_store_ps (part, _mm256_mul_ps (s, _mm256_mul_ps (w, amplitude)));

        for (float v : part)
            sum += v;

        sums[t] = sum;

        lastP = p;
        p = _mm256_add_ps (rate, p);

        const int wrapped = _mm256_movemask_ps (_mm256_cmp_ps (p, end, _CMP_GE_OQ));
        const bool takeOverDue = pending != 0
                                 && ((t == 0 && c.retriggerFirst) || _mm256_movemask_ps (_mm256_cmp_ps (lastP, p, _CMP_GT_OQ)) != 0);

        if (wrapped != 0 || takeOverDue)
        {
            // Wraps and take-overs, grain by grain through the records.
            store();

            for (int k = 0; k < 8; ++k)
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

    store();
}
} // namespace

void Granulizer::processChunkWide (const float* input, float* output, int numSamples, int length) noexcept
{
    // Whole groups of eight with no skipped grain go group by group with their state in
    // registers; anything else goes sample by sample below.
    {
        const int count = activeGrainCount();
        bool groupWise = count % 8 == 0;

        // The chunk's history needs a ring longer than the chunk.
        groupWise = groupWise && length > chunkSize;

        for (int k = 0; k < count && groupWise; ++k)
            groupWise = (juce::int64) grains[k].start + std::max (1, grains[k].length) < length;

        if (groupWise)
        {
            processChunkByGroups (input, output, numSamples, length);
            return;
        }
    }

    prepareWindow();
    processChunkInLanes<Lanes8> (*this, input, output, numSamples, length);
}

void Granulizer::processChunkByGroups (const float* input, float* output, int numSamples, int length) noexcept
{
    float* data = buffer.getWritePointer (0);
    const bool recording = ! settings.freeze;

    if (recording && (writeIndex < 0 || writeIndex >= length))
        writeIndex = 0;

    prepareWindow();

    float history[chunkSize];
    alignas (32) float sums[chunkSize];
    const int numGroups = activeGrainCount() / 8;
    const ChunkInfo info { data, windowTable, input, numGroups > 1 ? history : nullptr, length, writeIndex, numSamples,
                           (float) (length - 1), settings.speed, recording, retrigger != 0 };
    int head = writeIndex;

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
        Grain* g = grains + group * 8;

        if (group == 0)
            runGroup<true, false> (g, sums, info, head);
        else if (groupMayReadChunkWrites (g, info))
            runGroup<false, true> (g, sums, info, head);
        else
            runGroup<false, false> (g, sums, info, head);
    }

    writeIndex = head;

    if (numSamples > 0)
        retrigger = 0;

    const float gain = settings.outGain;

    for (int t = 0; t < numSamples; ++t)
        output[t] = finiteOrZero (sums[t] * gain);
}

#include "Avx2End.h"
