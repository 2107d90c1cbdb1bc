#include "Granulizer.h"
#include "EngineMath.h"
#include "CpuFeatures.h"
#include "GranulizerSteps.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

using namespace quoril::engine;

Granulizer::Granulizer()
{
    buffer.setSize (1, bufferLength);
    buffer.clear();

    for (int i = 0; i < windowSize; ++i)
        windowTable[i] = i < 1024 ? (float) i * 0.0009765625f : 2.0f - (float) i * 0.0009765625f;

    for (int i = 0; i < windowSize; ++i)
    {
        const auto c = (float) std::cos ((double) i * 6.283185307179586 / 2047.0);
        hannTable[i] = (1.0f - c) * 0.5f;
    }
}

int Granulizer::activeGrainCount() const noexcept
{
    return juce::jlimit (0, maxGrains, settings.density);
}

int Granulizer::usableLength() const noexcept
{
    if (buffer.getNumChannels() < 1)
        return 0;

    return juce::jlimit (0, buffer.getNumSamples(), bufferLength);
}

void Granulizer::prepareWindow() noexcept
{
    // Envelope 2 selects the Hann window; any other value keeps what the table holds.
    if (settings.envelope == 2 && ! windowIsHann)
    {
        std::memcpy (windowTable, hannTable, sizeof (windowTable));
        windowIsHann = true;
    }
}

void Granulizer::setParameters (const GranulizerSettings& s)
{
    // A NaN on either side counts as a change.
    const bool changed = s.density != settings.density
                         || ! (s.size == settings.size)
                         || ! (s.sizeRnd == settings.sizeRnd)
                         || ! (s.speedRnd == settings.speedRnd)
                         || ! (s.ampRnd == settings.ampRnd);

    settings = s;

    if (! changed)
        return;

    juce::Random random;

    const float size = settings.size;
    const int rangeOfStarts = truncateToInt ((float) bufferLength - size - 1.0f);
    const int lengthSpread = truncateToInt (size - 441.0f);
    const int count = activeGrainCount();

    for (int g = 0; g < count; ++g)
    {
        auto& grain = grains[g];

        const float r1 = random.nextFloat();
        grain.newStart = truncateToInt ((float) rangeOfStarts * r1);

        const float r2 = random.nextFloat();
        grain.newLength = truncateToInt (size - (r2 * settings.sizeRnd) * (float) lengthSpread);

        const float r3 = random.nextFloat();
        const float m = (r3 * settings.speedRnd) * 0.5f;
        grain.rateOffset = random.nextBool() ? m : -m;

        const float r5 = random.nextFloat();
        grain.amplitude = 1.0f - r5 * settings.ampRnd;

        grain.invLength = 1.0f / (float) std::max (1, grain.length);
        grain.pending = true;
    }
}

float Granulizer::processSample (float input)
{
    const int length = usableLength();

    if (length <= 0)
        return 0.0f;

    float* data = buffer.getWritePointer (0);

    if (! settings.freeze)
    {
        if (writeIndex < 0 || writeIndex >= length)
            writeIndex = 0;

        data[writeIndex] = input;

        if (++writeIndex >= length)
            writeIndex = 0;
    }

    prepareWindow();

    const SampleContext context { data, windowTable, length, (float) (length - 1), settings.speed, retrigger != 0 };
    const int count = activeGrainCount();
    float sum = 0.0f;

    for (int g = 0; g < count; ++g)
        stepGrain (grains[g], sum, context);

    retrigger = 0;
    return finiteOrZero (sum * settings.outGain);
}

//==============================================================================
// Block processing: the same steps in the same order, with the grains taken four at a time
// (eight in GranulizerWide.cpp).
// A group of four grains whose positions all lie inside the ring (the ordinary case) is worked
// out in SIMD lanes, and its four parts are added to the sample's sum one after the other in
// slot order, so every sum is the one that the grain-by-grain loop gives. Groups with anything
// out of the ordinary at a sample (a reset position, a read at the last index, a grain that is
// skipped, a wrap or a take-over) go through the grain-by-grain step for that sample.
void Granulizer::processChunk (const float* input, float* output, int numSamples, int length) noexcept
{
    float* data = buffer.getWritePointer (0);
    const bool recording = ! settings.freeze;

    if (recording && (writeIndex < 0 || writeIndex >= length))
        writeIndex = 0;

    prepareWindow();

    int head = writeIndex; // the write position, kept out of memory during the loop
    const int count = activeGrainCount();
    const int numGroups = count / 4;
    const float speed = settings.speed;
    const float gain = settings.outGain;
    SampleContext context { data, windowTable, length, (float) (length - 1), speed, retrigger != 0 };

    GrainLanes lanes;
    GroupState groups[maxGrains / 4];

    auto loadGroup = [&] (int group)
    {
        bool skipped = false;
        int pending = 0;

        for (int k = group * 4; k < group * 4 + 4; ++k)
        {
            lanes.load (grains[k], k, speed, length, skipped);
            pending |= grains[k].pending ? 1 << (k - group * 4) : 0;
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

    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps (1.0f);
    const __m128 windowScale = _mm_set1_ps (2047.0f);
    const __m128 lastIndex = _mm_set1_ps (context.lastIndex);
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
            const int k0 = group * 4;
            const __m128 p = _mm_load_ps (lanes.pos + k0);
            const __m128 inRing = _mm_and_ps (_mm_cmpge_ps (p, zero), _mm_cmplt_ps (p, lastIndex));

            if (groups[group].scalar || _mm_movemask_ps (inRing) != 0xf)
            {
                for (int k = k0; k < k0 + 4; ++k)
                    stepLane (k, sum);

                loadGroup (group);
                continue;
            }

            __m128 phase = _mm_mul_ps (_mm_sub_ps (p, _mm_load_ps (lanes.start + k0)), _mm_load_ps (lanes.invLength + k0));
            phase = _mm_min_ps (_mm_max_ps (phase, zero), one);

            alignas (16) int windowIndex[4];
            alignas (16) int readIndex[4];
            _mm_store_si128 (reinterpret_cast<__m128i*> (windowIndex), _mm_cvttps_epi32 (_mm_mul_ps (phase, windowScale)));
            const __m128i whole = _mm_cvttps_epi32 (p);
            _mm_store_si128 (reinterpret_cast<__m128i*> (readIndex), whole);
            const __m128 frac = _mm_sub_ps (p, _mm_cvtepi32_ps (whole));

            const __m128 w = _mm_setr_ps (window[windowIndex[0]], window[windowIndex[1]], window[windowIndex[2]], window[windowIndex[3]]);
            const __m128 a = _mm_setr_ps (data[readIndex[0]], data[readIndex[1]], data[readIndex[2]], data[readIndex[3]]);
            const __m128 b = _mm_setr_ps (data[readIndex[0] + 1], data[readIndex[1] + 1], data[readIndex[2] + 1], data[readIndex[3] + 1]);

            const __m128 s = _mm_add_ps (_mm_mul_ps (_mm_sub_ps (b, a), frac), a);
            alignas (16) float part[4];
            _mm_store_ps (part, _mm_mul_ps (s, _mm_mul_ps (w, _mm_load_ps (lanes.amplitude + k0))));
            sum += part[0];
            sum += part[1];
            sum += part[2];
            sum += part[3];

            const __m128 next = _mm_add_ps (_mm_load_ps (lanes.rate + k0), p);
            _mm_store_ps (lanes.lastPos + k0, p);
            _mm_store_ps (lanes.pos + k0, next);

            const int wrapped = _mm_movemask_ps (_mm_cmpge_ps (next, _mm_load_ps (lanes.end + k0)));

            if (wrapped != 0)
            {
                for (int k = k0; k < k0 + 4; ++k)
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
                const int backwards = _mm_movemask_ps (_mm_cmpgt_ps (p, _mm_load_ps (lanes.pos + k0)));
                const int takers = (context.retrigger ? 0xf : backwards) & groups[group].pendingLanes;

                if (takers != 0)
                {
                    for (int k = k0; k < k0 + 4; ++k)
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

        for (int k = numGroups * 4; k < count; ++k)
            stepGrain (grains[k], sum, context);

        output[t] = finiteOrZero (sum * gain);
    }

    writeIndex = head;

    if (numSamples > 0)
        retrigger = 0;

    for (int k = 0; k < numGroups * 4; ++k)
    {
        grains[k].pos = lanes.pos[k];
        grains[k].lastPos = lanes.lastPos[k];
    }
}

void Granulizer::processBlock (const float* input, float* output, int numSamples)
{
    const int length = usableLength();

    if (length <= 0)
    {
        for (int i = 0; i < numSamples; ++i)
            output[i] = processSample (input[i]);

        return;
    }

    const bool wide = quoril::engine::useAvx2(); // eight grains at a time, else four

    for (int done = 0; done < numSamples; done += chunkSize)
    {
        const int n = std::min (chunkSize, numSamples - done);

        if (wide)
            processChunkWide (input + done, output + done, n, length);
        else
            processChunk (input + done, output + done, n, length);
    }
}
