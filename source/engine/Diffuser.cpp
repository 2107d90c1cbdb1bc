#include "Diffuser.h"
#include "DiffuserRun.h"
#include "EngineMath.h"

#include <algorithm>

using namespace quoril::engine;

//==============================================================================
int AllpassDelay::readIndex() const noexcept
{
    const int length = buffer.getNumSamples();
    float r = (float) writeIndex - (float) delay;

    if (r < 0.0f)
    {
        r += (float) length;

        // A delay longer than the line wraps around it more than once.
        if (r < 0.0f)
            r = (float) std::fmod ((double) r, (double) length) + (float) length;
    }

    // Only a negative delay can read ahead of the line.
    if (! (r < (float) length))
        r = (float) std::fmod ((double) r, (double) length);

    return juce::jlimit (0, length - 1, (int) r);
}

float AllpassDelay::processSample (float input) noexcept
{
    const int length = buffer.getNumSamples();

    if (length <= 0 || buffer.getNumChannels() < 1)
        return input;

    if (writeIndex < 0 || writeIndex >= length)
        writeIndex = 0;

    float* line = buffer.getWritePointer (0);

    // Write index and delay are whole numbers, so the read position has no fraction: the
    // interpolation between the read index and its neighbour gives the sample at the read index.
    const float rd = line[readIndex()];

    const float v = gain * rd + input;
    line[writeIndex] = v;

    if (++writeIndex >= length)
        writeIndex = 0;

    return rd - gain * v;
}

//==============================================================================
void Diffuser::configure (float baseDelayMs, float squaredStageFactor)
{
    stageGains[0] = 0.72f;
    stageGains[1] = 0.73f;
    stageGains[2] = 0.76f;

    stageDelaysMs[0] = baseDelayMs;
    stageDelaysMs[1] = baseDelayMs * 1.26f;
    stageDelaysMs[2] = squaredStageFactor * baseDelayMs;

    for (int k = 0; k < numStages; ++k)
    {
        auto& stage = stages[k];
        stage.gain = stageGains[k];
        stage.delay = truncateToInt ((stageDelaysMs[k] * 0.001f) * (float) stage.sampleRate);
    }
}

void Diffuser::prepare (double newSampleRate)
{
    for (auto& stage : stages)
    {
        const double oldRate = stage.sampleRate;
        stage.sampleRate = newSampleRate;

        // One second of delay line; never less than one sample.
        stage.buffer.setSize (1, std::max (1, truncateToInt (newSampleRate)));
        stage.buffer.clear();
        stage.writeIndex = 0;

        if (newSampleRate != oldRate)
            stage.delay = truncateToInt ((float) (newSampleRate / oldRate) * (float) stage.delay) + 1;
    }

    lastOut = 0.0f;
    feedbackState = 0.0f;
}

float Diffuser::effectiveFeed() const noexcept
{
    return feed >= -0.99f && feed <= 0.99f ? feed : (feed > 0.99f ? 0.99f : (feed < -0.99f ? -0.99f : 0.0f));
}

float Diffuser::effectiveDamp() const noexcept
{
    return clampOrLow (damp, 0.0f, 1.0f);
}

float Diffuser::processSample (float send) noexcept
{
    const float f = effectiveFeed();
    const float d = effectiveDamp();

    feedbackState = lastOut * f * d + (1.0f - d) * feedbackState;
    const float in = (1.0f - f * 0.65f) * send + feedbackState;
    const float y = stages[2].processSample (stages[1].processSample (stages[0].processSample (in)));
    lastOut = y;
    return y;
}

void Diffuser::processBlock (float* io, int numSamples) noexcept
{
    if (! DiffuserRun::canRun (*this))
    {
        for (int i = 0; i < numSamples; ++i)
            io[i] = processSample (io[i]);

        return;
    }

    DiffuserRun run (*this);

    for (int i = 0; i < numSamples; ++i)
        io[i] = run.step (io[i]);

    run.finish (*this);
}

void Diffuser::clearSignal() noexcept
{
    for (auto& stage : stages)
    {
        stage.buffer.clear();
        stage.writeIndex = 0;
    }

    lastOut = 0.0f;
    feedbackState = 0.0f;
}

void Diffuser::recoverIfNonFinite() noexcept
{
    if (! std::isfinite (lastOut) || ! std::isfinite (feedbackState))
        clearSignal();
}
