// The granulizer's block processing with eight grains per group, for processors with AVX2.
// It is the four-lane path of Granulizer.cpp with wider lanes and gathered reads; every value is
// computed with the same operations in the same order, so both give the same results. Only this
// file is compiled for AVX2, and the processing dispatches to it after checking the processor.

#include "Granulizer.h"
#include "EngineMath.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

#include "GranulizerSteps.h"

void Granulizer::processChunkWide (const float* input, float* output, int numSamples, int length) noexcept
{
    float* data = buffer.getWritePointer (0);
    const bool recording = ! settings.freeze;

    if (recording && (writeIndex < 0 || writeIndex >= length))
        writeIndex = 0;

    prepareWindow();

    int head = writeIndex; // the write position, kept out of memory during the loop
    const int count = activeGrainCount();
    const int numGroups = count / 8;
    const float speed = settings.speed;
    const float gain = settings.outGain;
    SampleContext context { data, windowTable, length, (float) (length - 1), speed, retrigger != 0 };

    GrainLanes lanes;
    GroupState groups[maxGrains / 8];

    auto loadGroup = [&] (int group)
    {
        bool skipped = false;
        int pending = 0;

        for (int k = group * 8; k < group * 8 + 8; ++k)
        {
            lanes.load (grains[k], k, speed, length, skipped);
            pending |= grains[k].pending ? 1 << (k - group * 8) : 0;
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

    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps (1.0f);
    const __m256 windowScale = _mm256_set1_ps (2047.0f);
    const __m256 lastIndex = _mm256_set1_ps (context.lastIndex);
    const float* window = windowTable;

    for (int t = 0; t < numSamples; ++t)
    {
        if (recording)
        {
            data[head] = input[t];

            if (++head >= length)
                head = 0;
        }

        context.retrigger = t == 0 && retrigger != 0;
        float sum = 0.0f;

        for (int group = 0; group < numGroups; ++group)
        {
            const int k0 = group * 8;
            const __m256 p = _mm256_load_ps (lanes.pos + k0);
            const __m256 inRing = _mm256_and_ps (_mm256_cmp_ps (p, zero, _CMP_GE_OQ), _mm256_cmp_ps (p, lastIndex, _CMP_LT_OQ));

            if (groups[group].scalar || _mm256_movemask_ps (inRing) != 0xff)
            {
                for (int k = k0; k < k0 + 8; ++k)
                    stepLane (k, sum);

                loadGroup (group);
                continue;
            }

            __m256 phase = _mm256_mul_ps (_mm256_sub_ps (p, _mm256_load_ps (lanes.start + k0)), _mm256_load_ps (lanes.invLength + k0));
            phase = _mm256_min_ps (_mm256_max_ps (phase, zero), one);

            const __m256i windowIndex = _mm256_cvttps_epi32 (_mm256_mul_ps (phase, windowScale));
            const __m256i whole = _mm256_cvttps_epi32 (p);
            const __m256 frac = _mm256_sub_ps (p, _mm256_cvtepi32_ps (whole));

            const __m256 w = _mm256_i32gather_ps (window, windowIndex, 4);

            // Each lane's two neighbouring samples in one 64-bit read, then split into a and b.
            const auto* pairs = reinterpret_cast<const double*> (data);
            const __m256 pairsLow = _mm256_castpd_ps (_mm256_i32gather_pd (pairs, _mm256_castsi256_si128 (whole), 4));
            const __m256 pairsHigh = _mm256_castpd_ps (_mm256_i32gather_pd (pairs, _mm256_extracti128_si256 (whole, 1), 4));
            // pairsLow = a0 b0 a1 b1 | a2 b2 a3 b3, pairsHigh = a4 b4 a5 b5 | a6 b6 a7 b7
            const __m256i order = _mm256_setr_epi32 (0, 1, 4, 5, 2, 3, 6, 7);
            const __m256 a = _mm256_permutevar8x32_ps (_mm256_shuffle_ps (pairsLow, pairsHigh, 0x88), order);
            const __m256 b = _mm256_permutevar8x32_ps (_mm256_shuffle_ps (pairsLow, pairsHigh, 0xdd), order);

            const __m256 s = _mm256_add_ps (_mm256_mul_ps (_mm256_sub_ps (b, a), frac), a);
            alignas (32) float part[8];
            _mm256_store_ps (part, _mm256_mul_ps (s, _mm256_mul_ps (w, _mm256_load_ps (lanes.amplitude + k0))));

            for (float v : part)
                sum += v;

            const __m256 next = _mm256_add_ps (_mm256_load_ps (lanes.rate + k0), p);
            _mm256_store_ps (lanes.lastPos + k0, p);
            _mm256_store_ps (lanes.pos + k0, next);

            const int wrapped = _mm256_movemask_ps (_mm256_cmp_ps (next, _mm256_load_ps (lanes.end + k0), _CMP_GE_OQ));

            if (wrapped != 0)
            {
                for (int k = k0; k < k0 + 8; ++k)
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
                const int backwards = _mm256_movemask_ps (_mm256_cmp_ps (p, _mm256_load_ps (lanes.pos + k0), _CMP_GT_OQ));
                const int takers = (context.retrigger ? 0xff : backwards) & groups[group].pendingLanes;

                if (takers != 0)
                {
                    for (int k = k0; k < k0 + 8; ++k)
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

        for (int k = numGroups * 8; k < count; ++k)
            stepGrain (grains[k], sum, context);

        output[t] = finiteOrZero (sum * gain);
    }

    writeIndex = head;

    if (numSamples > 0)
        retrigger = 0;

    for (int k = 0; k < numGroups * 8; ++k)
    {
        grains[k].pos = lanes.pos[k];
        grains[k].lastPos = lanes.lastPos[k];
    }
}


#pragma GCC pop_options
