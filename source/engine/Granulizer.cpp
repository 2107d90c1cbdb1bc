#include "Granulizer.h"
#include "EngineMath.h"

#include <algorithm>
#include <cstring>

using namespace quoril::engine;

namespace
{
// Wraps a position that is still at or beyond the segment end after one literal wrap step.
// For finite positions below 2^24 every literal step (pos - end) + start is exact, so the
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
} // namespace

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

    const int count = activeGrainCount();
    const float lastIndex = (float) (length - 1);
    const float speed = settings.speed;
    float sum = 0.0f;

    for (int g = 0; g < count; ++g)
    {
        auto& grain = grains[g];

        // A segment shorter than one sample counts as one sample.
        const int effectiveLength = std::max (1, grain.length);
        const auto segmentEnd = (juce::int64) grain.start + effectiveLength;

        // A segment that reaches the end of the ring (possible after a change of rate) is skipped.
        // Such a grain never wraps, so a segment drawn for it replaces it at once.
        if (segmentEnd >= length)
        {
            if (grain.pending)
                takeOverPendingSegment (grain, length);

            continue;
        }

        const float phase = clampOrLow ((grain.pos - (float) grain.start) * grain.invLength, 0.0f, 1.0f);
        const float w = windowTable[(int) (phase * 2047.0f)];

        if (! (grain.pos >= 0.0f && grain.pos <= lastIndex))
            grain.pos = 0.0f;

        const float p = grain.pos;
        const int i = (int) p;
        const float frac = p - (float) i;
        const float a = data[i];
        const float b = p < lastIndex ? data[i + 1] : data[0];
        const float s = (b - a) * frac + a;

        grain.lastPos = p;
        sum += s * (w * grain.amplitude);
        grain.pos = (speed + grain.rateOffset) + p;

        const auto end = (float) segmentEnd;

        if (grain.pos >= end)
        {
            grain.pos = (grain.pos - end) + (float) grain.start;

            if (grain.pos >= end)
                grain.pos = wrapIntoSegment (grain.pos, grain.start, effectiveLength);
        }

        if (grain.pending && (grain.lastPos > grain.pos || retrigger != 0))
            takeOverPendingSegment (grain, length);
    }

    retrigger = 0;
    return finiteOrZero (sum * settings.outGain);
}

void Granulizer::processBlock (const float* input, float* output, int numSamples)
{
    for (int i = 0; i < numSamples; ++i)
        output[i] = processSample (input[i]);
}
