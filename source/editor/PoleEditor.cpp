#include "PoleEditor.h"

#include <climits>

#include "../orvn/CaptionLabel.h"
#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"

namespace
{
const char* const grainCaptionTexts[] = { "GRAIN SIZE", "GRAIN RATE", "JITTER", "JITTER", "GRAIN AMP JITTER" };
const char* const resonatorCaptionTexts[] = { "RESO FREQ", "RESO FEED" };

constexpr int captionStripHeight = 24;
constexpr int knobInset = 10;   // each knob of a pair moves this far towards the other
constexpr int barWidth = 30, barHeight = 2;

std::unique_ptr<juce::Label> makeKnobCaption (const juce::String& text)
{
    auto label = std::make_unique<juce::Label> (juce::String(), text);
    label->setColour (juce::Label::textColourId, juce::Colour (0xffffffff));
    label->setFont (juce::Font (12.0f));
    label->setJustificationType (juce::Justification::centred);
    return label;
}

juce::String twoDecimals (float value)
{
    return juce::String ((double) value, 2);
}

// A value truncated towards zero, for the integer tooltips; records may hold any finite float.
juce::String truncated (float value)
{
    return juce::String ((int) juce::jlimit ((double) INT_MIN, (double) INT_MAX, (double) value));
}

// Places the two knobs of a channel pair inside one half of a knob strip.
void placePair (juce::Component& left, juce::Component& right, int x0, int width, int y)
{
    const int q = width / 2;
    left.setBounds (x0 + (q - PoleEditor::knobSize) / 2 + knobInset, y, PoleEditor::knobSize, PoleEditor::knobSize);
    right.setBounds (x0 + q + (width - q - PoleEditor::knobSize) / 2 - knobInset, y, PoleEditor::knobSize, PoleEditor::knobSize);
}
} // namespace

PoleEditor::PoleEditor (QuorilAudioProcessor& p, int pole)
    : orvn::gui::GenericPanelView ("ENGINE EDITOR"),
      processor (p),
      poleIndex (pole)
{
    createGrainKnobs();
    createResonatorKnobs();

    for (int i = 0; i < numGrainKnobs; ++i)
    {
        addAndMakeVisible (grainKnobsLeft[i]);
        addAndMakeVisible (grainKnobsRight[i]);
        addAndMakeVisible (grainCaptions[i]);
        grainKnobsLeft[i]->addListener (this);
        grainKnobsRight[i]->addListener (this);
    }

    for (int i = 0; i < numResonatorKnobs; ++i)
    {
        addAndMakeVisible (resonatorKnobsLeft[i]);
        addAndMakeVisible (resonatorKnobsRight[i]);
        addAndMakeVisible (resonatorCaptions[i]);
        resonatorKnobsLeft[i]->addListener (this);
        resonatorKnobsRight[i]->addListener (this);
    }

    createDiffuserKnob();
    addAndMakeVisible (*diffSend->knob);
    addAndMakeVisible (*diffSend->caption);

    updateValueTexts();
}

PoleEditor::~PoleEditor() = default;

void PoleEditor::createGrainKnobs()
{
    for (int i = 0; i < numGrainKnobs; ++i)
    {
        grainKnobsLeft.add (new orvnlib::OrvnKnob (highlightColour));
        grainKnobsRight.add (new orvnlib::OrvnKnob (highlightColour));
        grainCaptions.add (makeKnobCaption (grainCaptionTexts[i]).release());
    }
}

void PoleEditor::createResonatorKnobs()
{
    for (int i = 0; i < numResonatorKnobs; ++i)
    {
        resonatorKnobsLeft.add (new orvnlib::OrvnKnob (highlightColour));
        resonatorKnobsRight.add (new orvnlib::OrvnKnob (highlightColour));
        resonatorCaptions.add (makeKnobCaption (resonatorCaptionTexts[i]).release());
    }
}

void PoleEditor::createDiffuserKnob()
{
    diffSend = std::make_unique<DiffSendControl>();
    diffSend->knob = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
    diffSend->caption = makeCaptionLabel ("DIFF SEND");
    diffSend->caption->setColour (juce::Label::textColourId, juce::Colour (0xffffffff));
    diffSend->caption->setFont (juce::Font (12.0f));
    diffSend->attachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (
        processor.parameters, processor.parameterTable->ids[ParameterTable::diffIndex (poleIndex)], *diffSend->knob);
}

//==============================================================================
PoleEditor::KnobView PoleEditor::grainView (int channel, int knob) const
{
    const auto& record = processor.granulizerSettings[(size_t) poleIndex][(size_t) channel];

    switch (knob)
    {
        case grainSize:
        {
            const auto ms = record.sizeMs;
            const auto& range = processor.grainSizeRange;
            // Held to the range in double precision: a size beyond the float range shows its end.
            const auto shown = ms != ms ? range.start : (float) juce::jlimit ((double) range.start, (double) range.end, ms);
            return { range.convertTo0to1 (shown), juce::String ((int) shown) + " Ms" };
        }
        case grainSpeed:  return { processor.grainSpeedWideRange.convertTo0to1 (record.speed), twoDecimals (record.speed) };
        case sizeJitter:  return { processor.sizeJitterRange.convertTo0to1 (record.sizeRnd), twoDecimals (record.sizeRnd) };
        case speedJitter: return { processor.speedJitterWideRange.convertTo0to1 (record.speedRnd), twoDecimals (record.speedRnd) };
        case ampJitter:
        {
            const juce::NormalisableRange<float> unit (0.0f, 1.0f, 0.001f);
            return { unit.convertTo0to1 (record.ampRnd), twoDecimals (record.ampRnd) };
        }
        default: break;
    }

    jassertfalse;
    return { 0.0, {} };
}

PoleEditor::KnobView PoleEditor::resonatorView (int channel, int knob) const
{
    const auto& record = processor.resonatorSettings[(size_t) poleIndex][(size_t) channel];

    if (knob == resonatorFreq)
        return { processor.resonatorFreqRange.convertTo0to1 (record.freq), truncated (record.freq) + " Hz" };

    return { processor.resonatorFeedRange.convertTo0to1 (record.feed), twoDecimals (record.feed) };
}

void PoleEditor::writeGrainField (int channel, int knob, float value)
{
    auto& record = processor.granulizerSettings[(size_t) poleIndex][(size_t) channel];

    switch (knob)
    {
        case grainSize:
        {
            setGrainSize (record, (double) processor.grainSizeRange.convertFrom0to1 (value), processor.sampleRate);
            break;
        }
        case grainSpeed:  record.speed = processor.grainSpeedWideRange.convertFrom0to1 (value); break;
        case sizeJitter:  record.sizeRnd = processor.sizeJitterRange.convertFrom0to1 (value); break;
        case speedJitter: record.speedRnd = processor.speedJitterWideRange.convertFrom0to1 (value); break;
        case ampJitter:   record.ampRnd = value; break;
        default:          break;
    }
}

void PoleEditor::writeResonatorField (int channel, int knob, float value)
{
    auto& record = processor.resonatorSettings[(size_t) poleIndex][(size_t) channel];

    if (knob == resonatorFreq)
        record.freq = processor.resonatorFreqRange.convertFrom0to1 (value);
    else
        record.feed = processor.resonatorFeedRange.convertFrom0to1 (value);
}

//==============================================================================
void PoleEditor::sliderValueChanged (juce::Slider* slider)
{
    auto* knob = dynamic_cast<orvnlib::OrvnKnob*> (slider);
    if (knob == nullptr)
        return;

    const auto value = (float) slider->getValue();

    if (const int i = grainKnobsLeft.indexOf (knob); i >= 0)
        writeGrainField (0, i, value);
    else if (const int j = grainKnobsRight.indexOf (knob); j >= 0)
        writeGrainField (1, j, value);
    else if (const int k = resonatorKnobsLeft.indexOf (knob); k >= 0)
        writeResonatorField (0, k, value);
    else if (const int l = resonatorKnobsRight.indexOf (knob); l >= 0)
        writeResonatorField (1, l, value);
    else
        return;

    processor.noteStateChange();
}

void PoleEditor::updateValueTexts()
{
    // setValue leaves a knob alone (no repaint, no listener call) when its position is unchanged,
    // and a tooltip is only stored, so an idle poll repaints nothing.
    const auto show = [] (orvnlib::OrvnKnob& knob, const KnobView& view)
    {
        knob.setValue (view.position, juce::dontSendNotification);
        knob.setTooltip (view.tooltip);
    };

    for (int channel = 0; channel < 2; ++channel)
    {
        const auto& grainKnobs = channel == 0 ? grainKnobsLeft : grainKnobsRight;
        const auto& resonatorKnobs = channel == 0 ? resonatorKnobsLeft : resonatorKnobsRight;

        for (int i = 0; i < numGrainKnobs; ++i)
            show (*grainKnobs[i], grainView (channel, i));

        for (int i = 0; i < numResonatorKnobs; ++i)
            show (*resonatorKnobs[i], resonatorView (channel, i));
    }

    diffSend->knob->setTooltip (twoDecimals (processor.parameterTable->raw (ParameterTable::diffIndex (poleIndex))));
}

void PoleEditor::visibilityChanged()
{
    updateValueTexts();
}

//==============================================================================
void PoleEditor::paint (juce::Graphics& g)
{
    g.fillAll (getLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId));
    g.setColour (juce::Colour (0xff343434));

    // A short bar between each grain caption and its jitter caption.
    const std::pair<int, int> captionPairs[] = { { grainSize, sizeJitter }, { grainSpeed, speedJitter } };

    for (const auto& [first, second] : captionPairs)
    {
        const auto a = grainCaptions[first]->getBounds();
        const auto b = grainCaptions[second]->getBounds();
        const int left = a.getX(), right = b.getRight();
        const int x = juce::jmin (left, right) + (juce::jmax (right - left, 0) - barWidth) / 2;
        const int y = a.getY() + (a.getHeight() - barHeight) / 2;
        g.fillRect (x, y, barWidth, barHeight);
    }
}

void PoleEditor::resized()
{
    auto area = getLocalBounds();
    area.removeFromTop (layoutHeader());

    juce::Rectangle<int> rows[4];
    rows[0] = area.removeFromTop (area.getHeight() / 4);
    rows[1] = area.removeFromTop (area.getHeight() / 3);
    rows[2] = area.removeFromTop (area.getHeight() / 2);
    rows[3] = area;

    // Lays out one row: its two captions over the knob strip; returns the knob strip.
    const auto layoutRow = [] (juce::Rectangle<int> row, juce::Component& leftCaption, juce::Component& rightCaption)
    {
        auto strip = row.removeFromTop (juce::jmin (captionStripHeight, row.getHeight()));
        leftCaption.setBounds (strip.removeFromLeft (strip.getWidth() / 2));
        rightCaption.setBounds (strip);
        return row;
    };

    const auto knobY = [] (juce::Rectangle<int> strip) { return strip.getY() + (strip.getHeight() - knobSize) / 2; };

    // Lays out a row of two channel pairs, one in each half.
    const auto layoutPairs = [&] (juce::Rectangle<int> row, int leftIndex, int rightIndex,
                                  juce::OwnedArray<orvnlib::OrvnKnob>& knobsLeft, juce::OwnedArray<orvnlib::OrvnKnob>& knobsRight,
                                  juce::OwnedArray<juce::Label>& captions)
    {
        const auto strip = layoutRow (row, *captions[leftIndex], *captions[rightIndex]);
        const int y = knobY (strip);
        const int half = strip.getWidth() / 2;
        placePair (*knobsLeft[leftIndex], *knobsRight[leftIndex], strip.getX(), half, y);
        placePair (*knobsLeft[rightIndex], *knobsRight[rightIndex], strip.getX() + half, strip.getWidth() - half, y);
    };

    layoutPairs (rows[0], grainSize, sizeJitter, grainKnobsLeft, grainKnobsRight, grainCaptions);
    layoutPairs (rows[1], grainSpeed, speedJitter, grainKnobsLeft, grainKnobsRight, grainCaptions);

    {
        const auto strip = layoutRow (rows[2], *grainCaptions[ampJitter], *diffSend->caption);
        const int y = knobY (strip);
        const int w = strip.getWidth();
        placePair (*grainKnobsLeft[ampJitter], *grainKnobsRight[ampJitter], strip.getX(), w / 2, y);
        diffSend->knob->setBounds (strip.getX() + w / 2 + (w - w / 2 - knobSize) / 2, y, knobSize, knobSize);
    }

    layoutPairs (rows[3], resonatorFreq, resonatorFeed, resonatorKnobsLeft, resonatorKnobsRight, resonatorCaptions);
}
