#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "PoleEditor.h"

class QuorilAudioProcessor;

namespace quoril
{
// The four engine editors, one per pole; only the selected pole's is visible.
class EditorsPanel : public juce::Component
{
public:
    explicit EditorsPanel (QuorilAudioProcessor& p);
    ~EditorsPanel() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The 100 ms poll of the visible editor: the right channel's knobs are disabled while the
    // pole's stereo link is on, and every knob follows the processor.
    void refreshEditors();

    // Lets each editor's diffusion-send knob ask the controller-learn manager for a MIDI binding
    // of the pole's diffusion parameter. The engine-setting knobs have no host parameter and stay
    // out. The manager must be disconnected (or outlive this panel) before it is destroyed.
    void connectControllerLearn (juce::ChangeListener& manager);
    void disconnectControllerLearn (juce::ChangeListener& manager);

    QuorilAudioProcessor& processor;
    juce::OwnedArray<PoleEditor> editors;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EditorsPanel)
};
} // namespace quoril
