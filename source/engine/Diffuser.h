#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// One allpass delay stage: v[n] = x[n] + g v[n - D], y[n] = v[n - D] - g v[n],
// on a delay line of one second.
class AllpassDelay
{
public:
    AllpassDelay() = default;

    // Needs a prepared delay line; an unprepared stage passes its input through.
    float processSample (float input) noexcept;

    // Read index for the current write position: writeIndex - delay, brought into the line.
    int readIndex() const noexcept;

    double sampleRate = 44100.0;
    juce::AudioBuffer<float> buffer;
    int writeIndex = 0;
    float gain = 0.0f;
    int delay = 1;
};

// A channel's diffusion network: three allpass delay stages in series with a damped feedback
// path around them.
class Diffuser
{
public:
    static constexpr int numStages = 3;

    Diffuser() = default;

    // Sets the stage gains and delay times for a base delay in milliseconds
    // (stage k: base x 1.26^k), with the stages' delays in samples at their own rate.
    void configure (float baseDelayMs, float squaredStageFactor);

    // Resizes and clears the delay lines for a new rate and rescales the delays when the rate
    // changed; clears the feedback.
    void prepare (double newSampleRate);

    // One sample of the diffuser: send sum in, diffused sample out.
    float processSample (float send) noexcept;

    // Processes a block of send sums in place.
    void processBlock (float* sendsInDiffusedOut, int numSamples) noexcept;

    // Clears the feedback and the delay lines when a non-finite value got into them.
    void recoverIfNonFinite() noexcept;

    // The feedback and damping actually applied: feed within -0.99..0.99 and damp within 0..1
    // (NaN as 0), which keeps the loop stable whatever a document holds.
    float effectiveFeed() const noexcept;
    float effectiveDamp() const noexcept;

    float feed = 0.0f;
    float damp = 1.0f;
    float lastOut = 0.0f;
    float feedbackState = 0.0f;
    AllpassDelay stages[numStages];
    float stageGains[numStages] { 0.72f, 0.73f, 0.76f };
    float stageDelaysMs[numStages] {};

private:
    void clearSignal() noexcept;
};
