#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <atomic>

// The 18 host parameters in creation order, with their ids and atomic raw values.
// The audio thread reads parameters through this table by index.
class ParameterTable
{
public:
    enum Index
    {
        inGain = 0, xPos, yPos, trajectory, xTrajAmount, xTrajRange, yTrajAmount, yTrajRange,
        outGain, dryWet, poleADiff, poleBDiff, poleCDiff, poleDDiff,
        stereoLinkA, stereoLinkB, stereoLinkC, stereoLinkD,
        numParameters
    };

    static constexpr int diffIndex (int pole) noexcept { return poleADiff + pole; }
    static constexpr int linkIndex (int pole) noexcept { return stereoLinkA + pole; }

    explicit ParameterTable (juce::AudioProcessorValueTreeState& parameters);

    float raw (int index) const noexcept { return rawValues.getUnchecked (index)->load(); }

    juce::StringArray ids;
    juce::Array<std::atomic<float>*> rawValues;
};

// Value-to-text of the two gain parameters: "-INF dB" at the bottom of the range,
// otherwise a signed value with two decimals.
juce::String gainToText (float value, int maximumLength);
