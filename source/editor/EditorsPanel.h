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

    // The 100 ms poll of the visible editor.
    void refreshEditors();

    QuorilAudioProcessor& processor;
    juce::OwnedArray<PoleEditor> editors;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EditorsPanel)
};
} // namespace quoril
