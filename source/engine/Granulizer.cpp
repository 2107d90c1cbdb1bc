#include "Granulizer.h"
#include "EngineMath.h"
#include "CpuFeatures.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "Lanes4.h"
#include "GranulizerLanes.h"
#include "GranulizerGroups.h"

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
// Block processing: the grains four at a time (eight in GranulizerWide.cpp); see GranulizerLanes.h
// and GranulizerGroups.h.
void Granulizer::processChunk (const float* input, float* output, int numSamples, int length) noexcept
{
    prepareWindow();

    // Whole groups of four with no skipped grain go group by group (GranulizerGroups.h), the
    // rest sample by sample.
    const int count = activeGrainCount();
    bool groupWise = count % 4 == 0 && length > chunkSize; // the chunk's history needs a ring longer than the chunk

    for (int k = 0; k < count && groupWise; ++k)
        groupWise = (juce::int64) grains[k].start + std::max (1, grains[k].length) < length;

    if (groupWise)
        processChunkInGroups<Lanes4, chunkSize> (*this, input, output, numSamples, length);
    else
        processChunkInLanes<Lanes4> (*this, input, output, numSamples, length);
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
