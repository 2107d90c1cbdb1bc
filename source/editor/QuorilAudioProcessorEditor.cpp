#include "QuorilAudioProcessorEditor.h"

#include "../orvn/AttachedMenus.h"
#include "../processor/QuorilAudioProcessor.h"
#include "XErrorFilter.h"

QuorilAudioProcessorEditor::QuorilAudioProcessorEditor (QuorilAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      mainComponent (p)
{
    ++audioProcessor.openEditorCount;
    XErrorFilter::install();
    tooltipWindow->setMillisecondsBeforeTipAppears (2000);
    addAndMakeVisible (mainComponent);

    setResizable (true, true);
    if (auto* windowLimits = getConstrainer())
    {
        windowLimits->setFixedAspectRatio (aspectRatio);
        windowLimits->setMinimumWidth (minimumWidth);
        windowLimits->setMaximumWidth (maximumStoredWidth);
        windowLimits->setMaximumHeight (heightForWidth (maximumStoredWidth));
    }

    int width = designWidth, height = designHeight;
    if (auto* settings = audioProcessor.getSettingsFile())
    {
        width = initialWidthFromSetting (settings->getValue (audioProcessor.panelWidthKey));
        height = heightForWidth (width);
    }

    setSize (width, height);
}

QuorilAudioProcessorEditor::~QuorilAudioProcessorEditor()
{
    // While every component is still whole: closing a menu sends mouse-enter calls to what lies
    // under the pointer.
    orvnlib::AttachedMenus::closeAllInside (*this);
    --audioProcessor.openEditorCount;
}

int QuorilAudioProcessorEditor::initialWidthFromSetting (const juce::String& storedText)
{
    const int width = storedPanelWidthFrom (storedText);
    return width > 0 ? width : designWidth;
}

int QuorilAudioProcessorEditor::heightForWidth (int width)
{
    // width / 1.6 in integers: exact, where the double quotient can fall just short of a whole number.
    return width * designHeight / designWidth;
}

int QuorilAudioProcessorEditor::drawnWidthFor (int windowWidth, int windowHeight)
{
    // The largest d with heightForWidth (d) <= windowHeight: d * 5 / 8 < windowHeight + 1.
    const auto widestForHeight = (((juce::int64) windowHeight + 1) * designWidth - 1) / designHeight;
    return (int) juce::jmax ((juce::int64) 1, juce::jmin ((juce::int64) windowWidth, widestForHeight));
}

int QuorilAudioProcessorEditor::widthToStore (int drawnWidth)
{
    return drawnWidth < minimumWidth ? -1 : juce::jmin (drawnWidth, maximumStoredWidth);
}

void QuorilAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff000000));
}

void QuorilAudioProcessorEditor::resized()
{
    // Hosts that ignore the constrainer give any size: the design keeps its shape, fits the
    // window both ways and sits in its middle; the editor's black shows around it.
    const int drawnWidth = drawnWidthFor (getWidth(), getHeight());
    const float scale = (float) drawnWidth / (float) designWidth;
    const int left = (getWidth() - drawnWidth) / 2;
    const int top = juce::jmax (0, (int) std::floor (((float) getHeight() - scale * (float) designHeight) * 0.5f));

    mainComponent.setBounds (0, 0, designWidth, designHeight);
    mainComponent.setTransform (juce::AffineTransform::scale (scale).translated ((float) left, (float) top));

    const int storedWidth = widthToStore (drawnWidth);

    if (auto* settings = audioProcessor.getSettingsFile(); settings != nullptr && storedWidth > 0)
    {
        settings->setValue (audioProcessor.panelWidthKey, storedWidth);
        const juce::ScopedLock lock (settings->getLock());
        settings->saveIfNeeded();
    }
}
