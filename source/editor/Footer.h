#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class QuorilAudioProcessor;

namespace quoril
{
// The strip along the bottom: wordmark, preset browser (previous, name, next), main menu, logo.
class Footer : public juce::Component
{
public:
    explicit Footer (QuorilAudioProcessor& p);
    ~Footer() override;

    void paint (juce::Graphics& g) override;

    // Loads the preset of the pending MIDI program change and clears the pending flag.
    void loadPendingPresetFile();

    QuorilAudioProcessor& processor;
    juce::TextButton presetButton;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Footer)
};
} // namespace quoril
