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

// Adds the parts of eight grains at eight consecutive samples (rows[t][k]: sample t, grain k) to
// the samples' sums, grain after grain in slot order: the additions of the grain-by-grain loop,
// done for the eight samples at once.
inline void addRowsToSums (const float (&rows)[8][8], float* sums, bool fromZero) noexcept
{
    const __m256 r0 = _mm256_load_ps (rows[0]), r1 = _mm256_load_ps (rows[1]);
    const __m256 r2 = _mm256_load_ps (rows[2]), r3 = _mm256_load_ps (rows[3]);
    const __m256 r4 = _mm256_load_ps (rows[4]), r5 = _mm256_load_ps (rows[5]);
    const __m256 r6 = _mm256_load_ps (rows[6]), r7 = _mm256_load_ps (rows[7]);

    // Transpose: column k holds grain k's parts at the eight samples.
    const __m256 t0 = _mm256_unpacklo_ps (r0, r1), t1 = _mm256_unpackhi_ps (r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps (r2, r3), t3 = _mm256_unpackhi_ps (r2, r3);
    const __m256 t4 = _mm256_unpacklo_ps (r4, r5), t5 = _mm256_unpackhi_ps (r4, r5);
    const __m256 t6 = _mm256_unpacklo_ps (r6, r7), t7 = _mm256_unpackhi_ps (r6, r7);
    const __m256 s0 = _mm256_shuffle_ps (t0, t2, 0x44), s1 = _mm256_shuffle_ps (t0, t2, 0xee);
    const __m256 s2 = _mm256_shuffle_ps (t1, t3, 0x44), s3 = _mm256_shuffle_ps (t1, t3, 0xee);
    const __m256 s4 = _mm256_shuffle_ps (t4, t6, 0x44), s5 = _mm256_shuffle_ps (t4, t6, 0xee);
    const __m256 s6 = _mm256_shuffle_ps (t5, t7, 0x44), s7 = _mm256_shuffle_ps (t5, t7, 0xee);

    __m256 sum = fromZero ? _mm256_setzero_ps() : _mm256_loadu_ps (sums);
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s0, s4, 0x20));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s1, s5, 0x20));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s2, s6, 0x20));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s3, s7, 0x20));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s0, s4, 0x31));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s1, s5, 0x31));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s2, s6, 0x31));
    sum = _mm256_add_ps (sum, _mm256_permute2f128_ps (s3, s7, 0x31));
    _mm256_storeu_ps (sums, sum);
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

    // The grains' parts of up to eight samples from rowStart on, waiting to be added to the sums.
    alignas (32) float rows[8][8];
    int rowStart = 0, numRows = 0;

    auto addWaitingRows = [&]
    {
        if (numRows == 8)
        {
            addRowsToSums (rows, sums + rowStart, firstGroup);
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

        if (numRows == 0)
            rowStart = t;

        _mm256_store_ps (rows[numRows], _mm256_mul_ps (s, _mm256_mul_ps (w, amplitude)));

        if (++numRows == 8)
            addWaitingRows();

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

    addWaitingRows();
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
