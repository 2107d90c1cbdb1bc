#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class QuorilAudioProcessor;

namespace quoril
{
// Input and output gain, dry/wet, and the diffusers' feedback per channel.
class GlobalControls : public juce::Component
{
public:
    explicit GlobalControls (QuorilAudioProcessor& p);
    ~GlobalControls() override;

    void paint (juce::Graphics& g) override;

    // Copies the diffuser records into the two diffusion knobs (the 100 ms poll).
    void refreshDiffusionSliders();

    QuorilAudioProcessor& processor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GlobalControls)
};
} // namespace quoril
