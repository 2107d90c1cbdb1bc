#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class QuorilAudioProcessor;

// The X/Y pad.
class QuorilPad : public juce::Component,
                  private juce::Timer
{
public:
    QuorilPad (juce::RangedAudioParameter& xParameter, juce::RangedAudioParameter& yParameter, QuorilAudioProcessor& p);
    ~QuorilPad() override;

    void timerCallback() override;

    QuorilAudioProcessor& processor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorilPad)
};
