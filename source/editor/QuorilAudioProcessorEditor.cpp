#include "QuorilAudioProcessorEditor.h"

#include "../processor/QuorilAudioProcessor.h"

QuorilAudioProcessorEditor::QuorilAudioProcessorEditor (QuorilAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      mainComponent (p)
{
    ++audioProcessor.openEditorCount;
    tooltipWindow->setMillisecondsBeforeTipAppears (2000);
    addAndMakeVisible (mainComponent);

    setResizable (true, true);
    if (auto* windowLimits = getConstrainer())
    {
        windowLimits->setFixedAspectRatio (aspectRatio);
        windowLimits->setMinimumWidth (minimumWidth);
    }

    int width = designWidth, height = designHeight;
    if (auto* settings = audioProcessor.getSettingsFile())
    {
        width = initialWidthFromSetting (settings->getValue (audioProcessor.panelWidthKey));
        height = (int) ((double) width / aspectRatio);
    }

    setSize (width, height);
}

QuorilAudioProcessorEditor::~QuorilAudioProcessorEditor()
{
    --audioProcessor.openEditorCount;
}

int QuorilAudioProcessorEditor::initialWidthFromSetting (const juce::String& storedText)
{
    const auto text = storedText.trim();
    if (text.isEmpty() || ! text.containsOnly ("-0123456789") || text.length() > 9)
        return designWidth;

    const int width = text.getIntValue();
    return (width >= minimumWidth && width <= maximumStoredWidth) ? width : designWidth;
}

void QuorilAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff000000));
}

void QuorilAudioProcessorEditor::resized()
{
    mainComponent.setBounds (0, 0, designWidth, designHeight);
    const float scale = (float) getWidth() / (float) designWidth;
    mainComponent.setTransform (juce::AffineTransform::scale (scale));

    if (auto* settings = audioProcessor.getSettingsFile())
    {
        settings->setValue (audioProcessor.panelWidthKey, getWidth());
        const juce::ScopedLock lock (settings->getLock());
        settings->saveIfNeeded();
    }
}
