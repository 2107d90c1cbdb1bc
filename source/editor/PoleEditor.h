#pragma once

#include "../orvn/GenericPanelView.h"

class QuorilAudioProcessor;

// The engine settings of one pole, per channel.
class PoleEditor : public orvn::gui::GenericPanelView
{
public:
    PoleEditor (QuorilAudioProcessor& p, int poleIndex);
    ~PoleEditor() override;

    // Sets every knob's position and tooltip from the processor; never writes a record.
    void updateValueTexts();

    QuorilAudioProcessor& processor;
    const int poleIndex;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PoleEditor)
};
