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

//==============================================================================
// Block processing. The chunk's input is recorded first; a grain that may read an index written
// later in the same chunk reads the value the index held before, kept aside, so every read sees
// the ring exactly as the sample-by-sample order would. Grains then run one after the other over
// the whole chunk, each adding into the per-sample sums in slot order, which gives the same sums,
// added in the same order, as summing all grains sample by sample.
namespace
{
struct ChunkContext
{
    const float* data;
    const float* window;
    const float* history;   // values the chunk overwrote, or null while frozen
    int length;             // ring length
    int writeStart;         // first index the chunk wrote
    int chunkLength;
    float lastIndex;
    float speed;
    bool retriggerFirst;    // the chunk's first sample takes pending segments at once
};

// The ring at index k as it was at chunk time t.
inline float readAt (const ChunkContext& c, int k, int t) noexcept
{
    int d = k - c.writeStart;

    if (d < 0)
        d += c.length;

    return (d > t && d < c.chunkLength) ? c.history[d] : c.data[k];
}

// False when the grain certainly reads no index that the chunk wrote: every position it can
// reach in this chunk (from its position, its segment and a pending one, plus one chunk of steps)
// stays clear of the written range and of the ring's ends.
bool mayReadChunkWrites (const Grain& grain, const ChunkContext& c) noexcept
{
    if (c.history == nullptr)
        return false;

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

    if (lastWritten < (float) c.length)
        return ! (hi < firstWritten || lo > lastWritten);

    return ! (hi < firstWritten) || ! (lo > lastWritten - (float) c.length);
}

template <bool checkHistory>
void runGrain (Grain& grain, float* __restrict sums, const ChunkContext& c) noexcept
{
    const float* __restrict data = c.data;
    const float* __restrict window = c.window;
    const int length = c.length;
    const float lastIndex = c.lastIndex;
    const float rate = c.speed + grain.rateOffset;
    const float amplitude = grain.amplitude;

    float pos = grain.pos;
    float lastPos = grain.lastPos;
    bool pending = grain.pending;

    int start = 0, effectiveLength = 1;
    juce::int64 segmentEnd = 0;
    float startF = 0.0f, end = 0.0f, invLength = 0.0f;

    auto loadSegment = [&]
    {
        start = grain.start;
        effectiveLength = std::max (1, grain.length);
        segmentEnd = (juce::int64) start + effectiveLength;
        startF = (float) start;
        end = (float) segmentEnd;
        invLength = grain.invLength;
    };

    auto takeOver = [&]
    {
        grain.pos = pos;
        takeOverPendingSegment (grain, length);
        pos = grain.pos;
        pending = false;
        loadSegment();
    };

    loadSegment();

    for (int t = 0; t < c.chunkLength; ++t)
    {
        if (segmentEnd >= length)
        {
            // Skipped: nothing moves until a pending segment replaces this one.
            if (! pending)
                break;

            takeOver();
            continue;
        }

        float phase = (pos - startF) * invLength;
        phase = phase > 0.0f ? phase : 0.0f;
        phase = phase < 1.0f ? phase : 1.0f;
        const float w = window[(int) (phase * 2047.0f)];

        if (! (pos >= 0.0f && pos <= lastIndex))
            pos = 0.0f;

        const int i = (int) pos;
        const float frac = pos - (float) i;
        const int j = pos < lastIndex ? i + 1 : 0;
        float a, b;

        if constexpr (checkHistory)
        {
            a = readAt (c, i, t);
            b = readAt (c, j, t);
        }
        else
        {
            a = data[i];
            b = data[j];
        }

        const float s = (b - a) * frac + a;
        lastPos = pos;
        sums[t] += s * (w * amplitude);
        pos = rate + pos;

        if (pos >= end)
        {
            pos = (pos - end) + startF;

            if (pos >= end)
                pos = wrapIntoSegment (pos, start, effectiveLength);
        }

        if (pending && (lastPos > pos || (t == 0 && c.retriggerFirst)))
            takeOver();
    }

    grain.pos = pos;
    grain.lastPos = lastPos;
    grain.pending = pending;
}
} // namespace

void Granulizer::processChunk (const float* input, float* output, int numSamples, int length) noexcept
{
    float* data = buffer.getWritePointer (0);
    float history[chunkSize];
    const bool recording = ! settings.freeze;

    if (recording && (writeIndex < 0 || writeIndex >= length))
        writeIndex = 0;

    const int writeStart = writeIndex;

    if (recording)
    {
        int k = writeStart;

        for (int t = 0; t < numSamples; ++t)
        {
            history[t] = data[k];
            data[k] = input[t];

            if (++k >= length)
                k = 0;
        }

        writeIndex = k;
    }

    prepareWindow();

    float sums[chunkSize];
    std::fill_n (sums, numSamples, 0.0f);

    const ChunkContext context { data, windowTable, recording ? history : nullptr, length, writeStart,
                                 numSamples, (float) (length - 1), settings.speed, retrigger != 0 };
    const int count = activeGrainCount();

    for (int g = 0; g < count; ++g)
    {
        if (mayReadChunkWrites (grains[g], context))
            runGrain<true> (grains[g], sums, context);
        else
            runGrain<false> (grains[g], sums, context);
    }

    retrigger = 0;

    const float gain = settings.outGain;

    for (int t = 0; t < numSamples; ++t)
        output[t] = finiteOrZero (sums[t] * gain);
}

void Granulizer::processBlock (const float* input, float* output, int numSamples)
{
    const int length = usableLength();

    // A ring no longer than a chunk (only after a nonsensical rate) goes sample by sample.
    if (length <= chunkSize)
    {
        for (int i = 0; i < numSamples; ++i)
            output[i] = processSample (input[i]);

        return;
    }

    for (int done = 0; done < numSamples; done += chunkSize)
        processChunk (input + done, output + done, std::min (chunkSize, numSamples - done), length);
}
