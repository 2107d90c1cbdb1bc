#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "MainComponent.h"

class QuorilAudioProcessor;

// The plug-in's window: one MainComponent laid out at 800 x 500 and scaled as a whole to the
// window's width. The width is kept in the per-user settings file.
class QuorilAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    explicit QuorilAudioProcessorEditor (QuorilAudioProcessor& p);
    ~QuorilAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    static constexpr int designWidth = 800;
    static constexpr int designHeight = 500;
    static constexpr double aspectRatio = 1.6;
    static constexpr int minimumWidth = 200;
    // A stored width outside minimumWidth..maximumStoredWidth (a damaged or hand-edited settings
    // file) opens the window at the design width instead.
    static constexpr int maximumStoredWidth = 4096;

    // The width to open at, from the text stored under the width key (empty when none).
    static int initialWidthFromSetting (const juce::String& storedText);

    QuorilAudioProcessor& audioProcessor;
    juce::SharedResourcePointer<juce::TooltipWindow> tooltipWindow;
    MainComponent mainComponent;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorilAudioProcessorEditor)
};
