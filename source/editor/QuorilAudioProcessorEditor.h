#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "MainComponent.h"
#include "../orvn/DialogsInFront.h"
#include "../processor/SettingsFile.h"

class QuorilAudioProcessor;

// The plug-in's window: one MainComponent laid out at 800 x 500, scaled as a whole to fit the
// window and centred in it, the rest black. The width the design is drawn at is kept in the
// per-user settings file.
class QuorilAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    explicit QuorilAudioProcessorEditor (QuorilAudioProcessor& p);
    ~QuorilAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    static constexpr int designWidth = 800;
    static constexpr int designHeight = 500;
    static constexpr double aspectRatio = 1.6;
    static constexpr int minimumWidth = minimumPanelWidth;
    // The largest width the window can be dragged to and the largest that reopens. A stored width
    // outside minimumWidth..maximumStoredWidth (a damaged or hand-edited settings file) opens the
    // window at the design width instead.
    static constexpr int maximumStoredWidth = maximumStoredPanelWidth;

    // The width to open at, from the text stored under the width key (empty when none).
    static int initialWidthFromSetting (const juce::String& storedText);

    // The window's height for a width: width / 1.6, truncated.
    static int heightForWidth (int width);

    // The width the design is drawn at in a window of the given size: the largest that fits both
    // ways, where fitting the height allows what heightForWidth truncates, so that a window
    // opened at a width draws at that width. Never below 1.
    static int drawnWidthFor (int windowWidth, int windowHeight);

    // What is stored for a drawn width: the width itself, capped at maximumStoredWidth; nothing
    // (-1) below minimumWidth, so that a window a host shrinks to nothing for a moment does not
    // replace the last real width.
    static int widthToStore (int drawnWidth);

    QuorilAudioProcessor& audioProcessor;
    juce::SharedResourcePointer<juce::TooltipWindow> tooltipWindow;
    MainComponent mainComponent;

private:
    // The map's file dialogs and questions are desktop windows: kept in front of the host's window.
    orvnlib::DialogsInFront dialogsInFront { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorilAudioProcessorEditor)
};
