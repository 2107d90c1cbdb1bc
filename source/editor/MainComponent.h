#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <functional>
#include <memory>

#include "../orvn/IconButtonControl.h"
#include "../orvn/MIDITarget.h"
#include "../orvn/OVLookAndFeel.h"
#include "EditorShared.h"
#include "EditorsPanel.h"
#include "Footer.h"
#include "GlobalControls.h"
#include "QuorilPad.h"
#include "TrajectoryControls.h"
#include "WorldControls.h"

class QuorilAudioProcessor;

// The root of the editor's component tree, always 800 x 500: the X/Y pad with the pole header
// buttons above and below it, the generate and trajectory panels on the left, the engine editor
// on the right, the global controls and the footer along the bottom. Polls the processor every
// 100 ms.
class MainComponent : public juce::Component,
                      private juce::Timer
{
public:
    // The header buttons of one pole (edit, stereo link, copy, paste) with the link's attachment.
    struct EngineHeader
    {
        std::unique_ptr<orvn::gui::IconButtonControl> editButton;
        std::unique_ptr<orvn::gui::IconButtonControl> linkButton;
        std::unique_ptr<orvn::gui::IconButtonControl> copyButton;
        std::unique_ptr<orvn::gui::IconButtonControl> pasteButton;
        std::unique_ptr<ButtonAttachmentHolder> linkAttachment;

        ~EngineHeader()
        {
            linkAttachment.reset();
            pasteButton.reset();
            copyButton.reset();
            linkButton.reset();
            editButton.reset();
        }
    };

    explicit MainComponent (QuorilAudioProcessor& p);
    ~MainComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // One tick of the 100 ms poll (public so that tests can run it without a message loop).
    void timerCallback() override;

    // Visits every control of the window that can ask for a controller binding.
    void forEachLearnTarget (const std::function<void (orvnlib::MIDITarget&)>& visit);

    QuorilAudioProcessor& processor;
    orvn::gui::OVLookAndFeel ovLookAndFeel;
    std::unique_ptr<QuorilPad> pad;
    quoril::WorldControls worldControls;
    quoril::TrajectoryControls trajectoryControls;
    quoril::GlobalControls globalControls;
    quoril::EditorsPanel editorsPanel;
    quoril::Footer footer;
    juce::Rectangle<float> padArea;
    std::array<EngineHeader, 4> engineHeaders;

private:
    void createEngineHeaders (int pole);
    void onEditEngineClicked (int pole);
    void onCopyEngineClicked (int pole);
    void onPasteEngineClicked (int pole);
    void layoutEngineHeaders();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
