#include "GlobalControls.h"

#include <cmath>

#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"

namespace quoril
{
namespace
{
constexpr int knobSize = 40;
constexpr int captionRowHeight = 32;
constexpr int sideCaptionWidth = 16;
} // namespace

void setUpCaption (juce::Component& parent, juce::Label& caption, const juce::String& text)
{
    caption.setJustificationType (juce::Justification::centred);
    caption.setText (text, juce::dontSendNotification);
    caption.setFont (juce::Font (12.0f, juce::Font::plain));
    parent.addAndMakeVisible (caption);
}

GlobalControls::GlobalControls (QuorilAudioProcessor& p) : processor (p)
{
    const auto& ids = processor.parameterTable->ids;

    auto makeParameterKnob = [this, &ids] (std::unique_ptr<orvnlib::OrvnKnob>& knob,
                                           std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment>& attachment,
                                           int index, bool bipolar)
    {
        knob = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
        attachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (processor.parameters, ids[index], *knob);

        if (bipolar)
            knob->getProperties().set ("bipolar", true);

        addAndMakeVisible (*knob);
    };

    makeParameterKnob (inAmpKnob, inAmpAttachment, ParameterTable::inGain, false);
    makeParameterKnob (outAmpKnob, outAmpAttachment, ParameterTable::outGain, false);
    makeParameterKnob (dryWetKnob, dryWetAttachment, ParameterTable::dryWet, true);

    diffusionLeft = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
    addAndMakeVisible (*diffusionLeft);
    diffusionLeft->onValueChange = [this] { onDiffusionLChanged(); };

    diffusionRight = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
    addAndMakeVisible (*diffusionRight);
    diffusionRight->onValueChange = [this] { onDiffusionRChanged(); };

    setUpCaption (*this, inAmpCaption, "IN AMP");
    setUpCaption (*this, outAmpCaption, "OUT AMP");
    setUpCaption (*this, dryWetCaption, "DRY/WET");
    setUpCaption (*this, diffusionCaption, "DIFFUSION");
    setUpCaption (*this, leftCaption, "L");
    setUpCaption (*this, rightCaption, "R");

    // The diffusion knobs get their positions from the first refresh.
}

GlobalControls::~GlobalControls() = default;

void GlobalControls::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff191919));
}

void GlobalControls::resized()
{
    const int w = getWidth();
    const int h = getHeight();

    auto captionRow = getLocalBounds().removeFromTop (juce::jmin (captionRowHeight, h));
    const int rowHeight = captionRow.getHeight();

    const auto inAmpColumn = captionRow.removeFromLeft (w / 4);
    const auto diffusionColumn = captionRow.removeFromLeft (captionRow.getWidth() / 3);
    const int remainingWidth = captionRow.getWidth(); // the OUT AMP and DRY/WET columns together
    const auto outAmpColumn = captionRow.removeFromLeft (captionRow.getWidth() / 2);
    const auto dryWetColumn = captionRow;

    inAmpCaption.setBounds (inAmpColumn);
    diffusionCaption.setBounds (diffusionColumn);
    outAmpCaption.setBounds (outAmpColumn);
    dryWetCaption.setBounds (dryWetColumn);

    const int knobY = rowHeight + (h - rowHeight - knobSize) / 2;
    auto centredIn = [] (juce::Rectangle<int> column) { return column.getX() + (column.getWidth() - knobSize) / 2; };

    inAmpKnob->setBounds (centredIn (inAmpColumn), knobY, knobSize, knobSize);
    outAmpKnob->setBounds (centredIn (outAmpColumn), knobY, knobSize, knobSize);
    dryWetKnob->setBounds (centredIn (dryWetColumn), knobY, knobSize, knobSize);

    const int x0 = diffusionColumn.getX();
    const int d = diffusionColumn.getWidth();
    const int split = juce::jmin (d, remainingWidth / 4);

    diffusionLeft->setBounds (x0 + (split - knobSize) / 2, knobY, knobSize, knobSize);
    diffusionRight->setBounds (x0 + split + (d - split - knobSize) / 2, knobY, knobSize, knobSize);

    leftCaption.setBounds (diffusionLeft->getRight() + 4, diffusionLeft->getY(), sideCaptionWidth, diffusionLeft->getHeight());
    rightCaption.setBounds (diffusionRight->getX() - 20, diffusionRight->getY(), sideCaptionWidth, diffusionRight->getHeight());
}

void GlobalControls::writeDiffuserFeed (int channel, const juce::Slider& knob)
{
    processor.diffuserSettings[channel].feed = processor.diffuserFeedRange.convertFrom0to1 ((float) knob.getValue());
    processor.noteStateChange();
}

void GlobalControls::onDiffusionLChanged()
{
    writeDiffuserFeed (0, *diffusionLeft);
}

void GlobalControls::onDiffusionRChanged()
{
    writeDiffuserFeed (1, *diffusionRight);
}

void GlobalControls::showDiffuserFeed (int channel, orvnlib::OrvnKnob& knob)
{
    const float feed = processor.diffuserSettings[channel].feed;

    // A record outside the range shows the knob at its end; a value that is not a number at all
    // (a damaged document) shows it at the bottom. The record itself is left as it is.
    const auto& range = processor.diffuserFeedRange;
    const float position = std::isnan (feed) ? 0.0f : range.convertTo0to1 (juce::jlimit (range.start, range.end, feed));

    knob.setValue (position, juce::dontSendNotification);
    knob.setTooltip (juce::String (feed, 2));
}

void GlobalControls::refreshDiffusionSliders()
{
    showDiffuserFeed (0, *diffusionLeft);
    showDiffuserFeed (1, *diffusionRight);
}

void GlobalControls::connectControllerLearn (juce::ChangeListener& manager)
{
    const auto& ids = processor.parameterTable->ids;

    const std::pair<orvnlib::OrvnKnob*, int> knobs[] = { { inAmpKnob.get(), ParameterTable::inGain },
                                                         { outAmpKnob.get(), ParameterTable::outGain },
                                                         { dryWetKnob.get(), ParameterTable::dryWet } };

    for (const auto& [knob, index] : knobs)
    {
        knob->parameterID = ids[index];
        knob->addChangeListener (&manager);
    }
}
} // namespace quoril
