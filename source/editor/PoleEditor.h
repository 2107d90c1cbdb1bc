#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

#include "../orvn/GenericPanelView.h"
#include "../orvn/OrvnKnob.h"

class QuorilAudioProcessor;

// The engine settings of one pole, per channel: five grain knobs and two resonator knobs for each
// of the two channels, written straight into the processor's settings records, and the pole's
// diffusion send, attached to its host parameter. The knobs have no text box; each shows its value
// as its tooltip.
class PoleEditor : public orvn::gui::GenericPanelView,
                   public juce::Slider::Listener
{
public:
    // The diffusion-send knob with its caption and its parameter attachment.
    struct DiffSendControl
    {
        std::unique_ptr<orvnlib::OrvnKnob> knob;
        std::unique_ptr<juce::Label> caption;
        std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> attachment;

        ~DiffSendControl()
        {
            attachment.reset();
            caption.reset();
            knob.reset();
        }
    };

    // The grain knobs by index (both channels), then the resonator knobs.
    enum GrainKnob { grainSize = 0, grainSpeed, sizeJitter, speedJitter, ampJitter, numGrainKnobs };
    enum ResonatorKnob { resonatorFreq = 0, resonatorFeed, numResonatorKnobs };

    static constexpr int knobSize = 32;

    PoleEditor (QuorilAudioProcessor& p, int poleIndex);
    ~PoleEditor() override;

    void visibilityChanged() override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    // Writes the one record field of the moved channel knob.
    void sliderValueChanged (juce::Slider* slider) override;

    // Sets every knob's position and tooltip from the processor; never writes a record.
    void updateValueTexts();

    QuorilAudioProcessor& processor;
    const int poleIndex;

    juce::OwnedArray<orvnlib::OrvnKnob> grainKnobsLeft;
    juce::OwnedArray<orvnlib::OrvnKnob> grainKnobsRight;
    juce::OwnedArray<juce::Label> grainCaptions;
    juce::OwnedArray<orvnlib::OrvnKnob> resonatorKnobsLeft;
    juce::OwnedArray<orvnlib::OrvnKnob> resonatorKnobsRight;
    juce::OwnedArray<juce::Label> resonatorCaptions;
    std::unique_ptr<DiffSendControl> diffSend;
    juce::SharedResourcePointer<juce::TooltipWindow> tooltipWindow;

private:
    // What a knob shows for a record value.
    struct KnobView
    {
        double position;
        juce::String tooltip;
    };

    void createGrainKnobs();
    void createResonatorKnobs();
    void createDiffuserKnob();

    KnobView grainView (int channel, int knob) const;
    KnobView resonatorView (int channel, int knob) const;
    void writeGrainField (int channel, int knob, float value);
    void writeResonatorField (int channel, int knob, float value);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PoleEditor)
};
