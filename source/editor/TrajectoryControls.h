#pragma once

#include "../orvn/GenericPanelView.h"

class QuorilAudioProcessor;

namespace quoril
{
class TrajectoryControls : public orvn::gui::GenericPanelView
{
public:
    explicit TrajectoryControls (QuorilAudioProcessor& p);
    ~TrajectoryControls() override;

    QuorilAudioProcessor& processor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrajectoryControls)
};
} // namespace quoril
