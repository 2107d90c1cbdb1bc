#include "TrajectoryControls.h"

#include "../processor/QuorilAudioProcessor.h"
#include "EditorShared.h"
#include "GlobalControls.h"
#include "QuorilBinaryData.h"

namespace quoril
{
namespace
{
constexpr int knobSize = 36;
constexpr int buttonSize = 24;
constexpr int maxLeftColumnWidth = 96;
} // namespace

TrajectoryControls::TrajectoryControls (QuorilAudioProcessor& p)
    : orvn::gui::GenericPanelView ("TRAJECTORY"),
      processor (p)
{
    const auto& ids = processor.parameterTable->ids;

    randomizeButton = makeIconButton (QuorilBinaryData::die_svg, QuorilBinaryData::die_svgSize, true);
    randomizeButton->setClickingTogglesState (false);
    addAndMakeVisible (*randomizeButton);
    randomizeButton->onClick = [this] { onRandomizeClicked(); };
    randomizeButton->setTooltip ("Randomize trajectory.");

    onOffButton = makeIconButton (QuorilBinaryData::power_svg, QuorilBinaryData::power_svgSize, true);
    onOffButton->setClickingTogglesState (true);
    addAndMakeVisible (*onOffButton);
    onOffAttachment = makeButtonAttachment (processor.parameters, ids[ParameterTable::trajectory], *onOffButton);
    onOffButton->setTooltip ("Trajectory On/Off.");

    auto makeKnob = [this, &ids] (std::unique_ptr<orvnlib::OrvnKnob>& knob, std::unique_ptr<Attachment>& attachment, int index)
    {
        knob = std::make_unique<orvnlib::OrvnKnob> (highlightColour);
        attachment = std::make_unique<Attachment> (processor.parameters, ids[index], *knob);
        addAndMakeVisible (*knob);
    };

    makeKnob (xRateKnob, xRateAttachment, ParameterTable::xTrajAmount);
    makeKnob (xRangeKnob, xRangeAttachment, ParameterTable::xTrajRange);
    makeKnob (yRateKnob, yRateAttachment, ParameterTable::yTrajAmount);
    makeKnob (yRangeKnob, yRangeAttachment, ParameterTable::yTrajRange);

    setUpCaption (*this, xLabel, "X");
    setUpCaption (*this, yLabel, "Y");
    setUpCaption (*this, rateLabel, "RATE");
    setUpCaption (*this, rangeLabel, "RANGE");
}

TrajectoryControls::~TrajectoryControls() = default;

void TrajectoryControls::onRandomizeClicked()
{
    auto& groups = processor.parameterGroups;

    if (groups.groups.isEmpty())
        return;

    const bool withGestures = ! groups.hostIsAbletonLive;

    for (const auto& id : *groups.groups.getUnchecked (0))
    {
        auto* parameter = processor.parameters.getParameter (id);

        if (parameter == nullptr)
            continue;

        if (withGestures)
            parameter->beginChangeGesture();

        parameter->setValueNotifyingHost (groups.random.nextFloat());

        if (withGestures)
            parameter->endChangeGesture();
    }
}

void TrajectoryControls::connectControllerLearn (juce::ChangeListener& manager)
{
    const auto& ids = processor.parameterTable->ids;

    const std::pair<orvnlib::OrvnKnob*, int> knobs[] = { { xRateKnob.get(), ParameterTable::xTrajAmount },
                                                         { xRangeKnob.get(), ParameterTable::xTrajRange },
                                                         { yRateKnob.get(), ParameterTable::yTrajAmount },
                                                         { yRangeKnob.get(), ParameterTable::yTrajRange } };

    for (const auto& [knob, index] : knobs)
    {
        knob->parameterID = ids[index];
        knob->addChangeListener (&manager);
    }
}

void TrajectoryControls::resized()
{
    const int top = layoutHeader();
    const int w = getWidth();
    const int area = juce::jmax (getHeight() - top, 0);

    // Three rows: the buttons and column captions, then X, then Y.
    const int firstRowHeight = area / 3;
    const int xRowY = top + firstRowHeight;
    const int xRowHeight = (area - firstRowHeight) / 2;
    const int yRowY = xRowY + xRowHeight;
    const int yRowHeight = top + area - yRowY;

    // Three columns: the row captions and buttons, then RANGE, then RATE.
    const int left = juce::jmin (maxLeftColumnWidth, w);
    const int rangeWidth = (w - left) / 2;
    const int rateWidth = w - left - rangeWidth;
    const int rangeX = left;
    const int rateX = left + rangeWidth;

    xLabel.setBounds (0, xRowY, left, xRowHeight);
    yLabel.setBounds (0, yRowY, left, yRowHeight);

    const int rangeKnobX = rangeX + (rangeWidth - knobSize) / 2;
    const int rateKnobX = rateX + (rateWidth - knobSize) / 2;
    const int xKnobY = xRowY + (xRowHeight - knobSize) / 2;
    const int yKnobY = yRowY + (yRowHeight - knobSize) / 2;

    xRangeKnob->setBounds (rangeKnobX, xKnobY, knobSize, knobSize);
    yRangeKnob->setBounds (rangeKnobX, yKnobY, knobSize, knobSize);
    xRateKnob->setBounds (rateKnobX, xKnobY, knobSize, knobSize);
    yRateKnob->setBounds (rateKnobX, yKnobY, knobSize, knobSize);

    const int buttonY = top + (firstRowHeight - buttonSize) / 2;
    const int halfLeft = left / 2;
    onOffButton->setBounds ((halfLeft - buttonSize) / 2, buttonY, buttonSize, buttonSize);
    randomizeButton->setBounds (halfLeft + (left - halfLeft - buttonSize) / 2, buttonY, buttonSize, buttonSize);

    rangeLabel.setBounds (rangeX, top, rangeWidth, firstRowHeight);
    rateLabel.setBounds (rateX, top, rateWidth, firstRowHeight);
}
} // namespace quoril
