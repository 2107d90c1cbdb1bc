#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include "EngineSettings.h"

// One grain slot: a segment of the ring buffer that the grain loops over at its own rate.
struct Grain
{
    float pos = 0.0f;        // read position in the buffer, in samples
    int start = 0;           // first buffer index of the segment
    int length = 1;          // segment length in samples
    float rateOffset = 0.0f; // added to the settings' speed
    float amplitude = 1.0f;  // gain of the grain
    bool pending = false;    // newStart/newLength wait to be taken over
    int newStart = 0;
    int newLength = 0;
    float lastPos = 0.0f;    // position before the most recent step
    float invLength = 1.0f;  // 1 / length, for the window phase
};

// The grain engine at the head of a pole: records its input into a ring buffer of four seconds
// (at 44.1 kHz) and plays up to 64 looping grains out of it, each shaped by the window table.
class Granulizer
{
public:
    static constexpr int maxGrains = 64;
    static constexpr int windowSize = 2048;
    static constexpr int defaultBufferLength = 176400;

    Granulizer();
    Granulizer (const Granulizer&) = default;
    Granulizer& operator= (const Granulizer&) = default;

    // Takes a copy of the settings; redraws the grains when density, size or one of the three
    // jitters changed.
    void setParameters (const GranulizerSettings& newSettings);

    // Records one input sample and returns the sum of the sounding grains times the output gain.
    float processSample (float input);

    // Same as numSamples calls of processSample, input[i] to output[i] (they may alias).
    void processBlock (const float* input, float* output, int numSamples);

    // Number of grain slots that sound: the settings' density, used within 0..64.
    int activeGrainCount() const noexcept;

    // True once the Hann window has been copied into windowTable.
    bool windowHoldsHann() const noexcept { return windowIsHann; }

    int bufferLength = defaultBufferLength;
    juce::AudioBuffer<float> buffer;
    float windowTable[windowSize];
    float hannTable[windowSize];
    int writeIndex = 0;
    Grain grains[maxGrains];
    double sampleRate = 44100.0;
    juce::uint8 retrigger = 1;
    GranulizerSettings settings;

private:
    // Block processing works in chunks of at most this many samples.
    static constexpr int chunkSize = 256;

    // The ring length actually usable: bufferLength, within the allocated buffer.
    int usableLength() const noexcept;
    void prepareWindow() noexcept;
    void processChunk (const float* input, float* output, int numSamples, int length) noexcept;
    void processChunkWide (const float* input, float* output, int numSamples, int length) noexcept;
    void processChunkByGroups (const float* input, float* output, int numSamples, int length) noexcept;

    bool windowIsHann = false;
};
