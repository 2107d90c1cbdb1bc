#include "MainComponent.h"

#include "../processor/QuorilAudioProcessor.h"

#if QUORIL_HAS_BINARY_DATA
 #include "QuorilBinaryData.h"
#endif

namespace
{
// Made for each window and held by its look-and-feel, so it goes with the window: one kept in a
// static would outlive the framework's shutdown (and its leak checks).
juce::Typeface::Ptr createEmbeddedTypeface()
{
#if QUORIL_HAS_BINARY_DATA
    return juce::Typeface::createSystemTypefaceFor (QuorilBinaryData::Orbitron_500Medium_ttf,
                                                    (size_t) QuorilBinaryData::Orbitron_500Medium_ttfSize);
#else
    return {};
#endif
}
} // namespace

MainComponent::MainComponent (QuorilAudioProcessor& p)
    : processor (p),
      worldControls (p),
      trajectoryControls (p),
      globalControls (p),
      editorsPanel (p),
      footer (p)
{
    if (auto typeface = createEmbeddedTypeface())
        ovLookAndFeel.setDefaultSansSerifTypeface (typeface);

    juce::LookAndFeel::setDefaultLookAndFeel (&ovLookAndFeel);
    setLookAndFeel (&ovLookAndFeel);

    const auto& ids = processor.parameterTable->ids;
    pad = std::make_unique<QuorilPad> (*processor.parameters.getParameter (ids[ParameterTable::xPos]),
                                       *processor.parameters.getParameter (ids[ParameterTable::yPos]),
                                       processor);

    addAndMakeVisible (*pad);
    addAndMakeVisible (worldControls);
    addAndMakeVisible (trajectoryControls);
    addAndMakeVisible (editorsPanel);
    addAndMakeVisible (globalControls);
    addAndMakeVisible (footer);

    for (int pole = 0; pole < 4; ++pole)
        createEngineHeaders (pole);

    // The panels were built before this component had its look-and-feel; let every child pick
    // up its colours now (the footer's icons take their pressed colour from it).
    sendLookAndFeelChange();

    // Knobs that stand for a host parameter offer controller learn through the footer's manager.
    globalControls.connectControllerLearn (footer.ccMapperUIManager);
    trajectoryControls.connectControllerLearn (footer.ccMapperUIManager);
    editorsPanel.connectControllerLearn (footer.ccMapperUIManager);

    startTimer (100);
}

MainComponent::~MainComponent()
{
    stopTimer();

    // The footer, and with it the controller-learn manager, goes before the panels' knobs.
    forEachLearnTarget ([this] (orvnlib::MIDITarget& target) { target.removeChangeListener (&footer.ccMapperUIManager); });

    setLookAndFeel (nullptr);
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == &ovLookAndFeel)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

void MainComponent::forEachLearnTarget (const std::function<void (orvnlib::MIDITarget&)>& visit)
{
    std::function<void (juce::Component&)> walk = [&] (juce::Component& component)
    {
        for (auto* child : component.getChildren())
        {
            if (auto* target = dynamic_cast<orvnlib::MIDITarget*> (child))
                visit (*target);
            walk (*child);
        }
    };
    walk (*this);
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff000000));
    g.setColour (juce::Colour (0xff191919));
    g.fillRect (padArea);
    g.setColour (juce::Colour (0xff000000));
    g.fillRect (padArea.withSizeKeepingCentre (2.0f, padArea.getHeight()));
}

void MainComponent::resized()
{
    auto area = getLocalBounds().reduced (2);
    footer.setBounds (area.removeFromBottom (80));
    area.removeFromBottom (2);
    globalControls.setBounds (area.removeFromBottom (80));
    area.removeFromBottom (2);

    auto left = area.removeFromLeft (area.getWidth() / 3);
    auto top = left.removeFromTop (left.getHeight() / 2);
    top.removeFromBottom (1);
    worldControls.setBounds (top);
    left.removeFromTop (1);
    trajectoryControls.setBounds (left);

    editorsPanel.setBounds (area.removeFromRight (area.getWidth() / 2));

    const auto middle = area.withTrimmedLeft (2).withTrimmedRight (2);
    padArea = middle.toFloat();
    pad->setBounds (middle.withSizeKeepingCentre (middle.getWidth(), middle.getWidth()));

    layoutEngineHeaders();
}

void MainComponent::layoutEngineHeaders()
{
    const auto r = padArea.toNearestInt();
    const auto strips = std::array<juce::Rectangle<int>, 2> { r.withBottom (pad->getY()), r.withTop (pad->getBottom()) };

    for (int row = 0; row < 2; ++row)
    {
        auto strip = strips[(size_t) row];
        const auto leftHalf = strip.removeFromLeft (strip.getWidth() / 2);
        const std::array<juce::Rectangle<int>, 2> halves { leftHalf, strip };

        for (int column = 0; column < 2; ++column)
        {
            auto& header = engineHeaders[(size_t) (row * 2 + column)];
            auto cells = halves[(size_t) column].reduced (8, 0);

            const std::array<juce::Component*, 4> buttons { header.editButton.get(), header.linkButton.get(),
                                                            header.copyButton.get(), header.pasteButton.get() };
            const std::array<juce::Rectangle<int>, 4> cell { cells.removeFromLeft (cells.getWidth() / 4),
                                                             cells.removeFromLeft (cells.getWidth() / 3),
                                                             cells.removeFromLeft (cells.getWidth() / 2),
                                                             cells };
            for (size_t i = 0; i < buttons.size(); ++i)
                if (buttons[i] != nullptr)
                    buttons[i]->setBounds (cell[i].withSizeKeepingCentre (22, 22));
        }
    }
}

void MainComponent::timerCallback()
{
    globalControls.refreshDiffusionSliders();
    editorsPanel.refreshEditors();

    const auto name = processor.getPresetName();
    if (name != footer.presetButton.getButtonText())
        footer.presetButton.setButtonText (name);

    // A program the host selected that no block has taken yet (the host may not be playing) is
    // loaded as a program change that arrived now.
    if (const int requested = processor.takeProgramRequest(); requested >= 0)
    {
        processor.midiProgram.exchange (requested);
        processor.midiPresetLoadPending.exchange (true);
    }

    if (processor.midiPresetLoadPending.load())
        footer.loadPendingPresetFile();
}
