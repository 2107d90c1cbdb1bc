#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

#include "../orvn/OrvnKnob.h"

class QuorilAudioProcessor;

namespace quoril
{
// The set-up every caption of the global and trajectory controls gets: centred, the text, a plain
// 12-point font, added to the parent as a visible child. The look-and-feel supplies the colours.
void setUpCaption (juce::Component& parent, juce::Label& caption, const juce::String& text);

// Input and output gain, dry/wet, and the diffusers' feedback per channel.
//
// The two diffusion knobs are not host parameters: they write the processor's diffuser records
// directly, and refreshDiffusionSliders() copies the records back, so the knobs follow random
// generation, preset loads and host state restores.
class GlobalControls : public juce::Component
{
public:
    explicit GlobalControls (QuorilAudioProcessor& p);
    ~GlobalControls() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Copies the diffuser records into the two diffusion knobs (the 100 ms poll).
    void refreshDiffusionSliders();

    void onDiffusionLChanged();
    void onDiffusionRChanged();

    // Lets the three host-parameter knobs take part in controller learn: each is given its
    // parameter's id and reports its learn requests to the manager.
    void connectControllerLearn (juce::ChangeListener& manager);

    QuorilAudioProcessor& processor;

    std::unique_ptr<orvnlib::OrvnKnob> inAmpKnob;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> inAmpAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> outAmpKnob;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> outAmpAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> dryWetKnob;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> dryWetAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> diffusionLeft;
    std::unique_ptr<orvnlib::OrvnKnob> diffusionRight;

    juce::Label inAmpCaption, outAmpCaption, dryWetCaption, diffusionCaption, leftCaption, rightCaption;

private:
    void writeDiffuserFeed (int channel, const juce::Slider& knob);
    void showDiffuserFeed (int channel, orvnlib::OrvnKnob& knob);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GlobalControls)
};
} // namespace quoril
