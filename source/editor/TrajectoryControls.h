#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

#include "../orvn/GenericPanelView.h"
#include "../orvn/IconButtonControl.h"
#include "../orvn/OrvnKnob.h"

class QuorilAudioProcessor;
struct ButtonAttachmentHolder;

namespace quoril
{
// The "TRAJECTORY" panel: the trajectory switch, a button that gives the trajectory's rates and
// ranges new random values, and the rate and range knobs of X and Y. Every control is bound to
// a host parameter.
class TrajectoryControls : public orvn::gui::GenericPanelView
{
public:
    explicit TrajectoryControls (QuorilAudioProcessor& p);
    ~TrajectoryControls() override;

    void resized() override;

    // New random normalised values for the trajectory's rates and ranges, one draw each from the
    // processor's generator, each change in its own gesture (none in Ableton Live).
    void onRandomizeClicked();

    // Lets the four knobs take part in controller learn: each is given its parameter's id and
    // reports its learn requests to the manager.
    void connectControllerLearn (juce::ChangeListener& manager);

    using Attachment = juce::AudioProcessorValueTreeState::SliderAttachment;

    QuorilAudioProcessor& processor;
    std::unique_ptr<orvn::gui::IconButtonControl> onOffButton;
    std::unique_ptr<ButtonAttachmentHolder> onOffAttachment;
    std::unique_ptr<orvn::gui::IconButtonControl> randomizeButton;
    std::unique_ptr<orvnlib::OrvnKnob> xRateKnob;
    std::unique_ptr<Attachment> xRateAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> xRangeKnob;
    std::unique_ptr<Attachment> xRangeAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> yRateKnob;
    std::unique_ptr<Attachment> yRateAttachment;
    std::unique_ptr<orvnlib::OrvnKnob> yRangeKnob;
    std::unique_ptr<Attachment> yRangeAttachment;
    juce::Label xLabel, yLabel, rangeLabel, rateLabel;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrajectoryControls)
};
} // namespace quoril
