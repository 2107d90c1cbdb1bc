#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// Smooths one host parameter into per-sample values: a new target is reached in equal steps
// over the ramp time.
class ParameterRamp
{
public:
    static constexpr int initialBufferSize = 512;

    // Starts at the given value with no ramp time, so a new target is taken at once until the
    // first prepare.
    explicit ParameterRamp (float initialValue);

    // Sets the ramp time for the sample rate (ending any ramp in progress at its target) and
    // sizes the value buffer for blocks of up to maximumBlockSize + 32 samples.
    void prepare (double sampleRate, double rampSeconds, int maximumBlockSize);

    // Ramps towards the target and writes the next numSamples values into buffer.
    // numSamples is limited to the buffer's size.
    void process (float target, int numSamples) noexcept;

    const float* values() const noexcept { return buffer.getReadPointer (0); }
    int capacity() const noexcept { return buffer.getNumSamples(); }

    juce::SmoothedValue<float> smoother;
    juce::AudioBuffer<float> buffer;
};
