#include "ParameterRamp.h"

ParameterRamp::ParameterRamp (float initialValue)
    : smoother (initialValue)
{
    buffer.setSize (1, initialBufferSize);
    buffer.clear();
}

void ParameterRamp::prepare (double sampleRate, double rampSeconds, int maximumBlockSize)
{
    smoother.reset (sampleRate, rampSeconds);
    buffer.setSize (1, juce::jmax (0, maximumBlockSize) + 32);
}

void ParameterRamp::process (float target, int numSamples) noexcept
{
    smoother.setTargetValue (target);

    const int n = juce::jlimit (0, buffer.getNumSamples(), numSamples);
    float* out = buffer.getWritePointer (0);

    for (int i = 0; i < n; ++i)
        out[i] = smoother.getNextValue();
}
