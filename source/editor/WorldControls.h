#pragma once

#include "../orvn/GenericPanelView.h"

class QuorilAudioProcessor;

namespace quoril
{
class WorldControls : public orvn::gui::GenericPanelView
{
public:
    explicit WorldControls (QuorilAudioProcessor& p);
    ~WorldControls() override;

    QuorilAudioProcessor& processor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WorldControls)
};
} // namespace quoril
