#pragma once

#include <array>
#include <memory>

#include "../orvn/GenericPanelView.h"
#include "../orvn/IconButtonControl.h"

class QuorilAudioProcessor;

namespace quoril
{
// The "GENERATE" panel: a button in the middle that gives all four poles and both diffusers new
// random engine settings, and one button near each corner for the pole of that corner.
class WorldControls : public orvn::gui::GenericPanelView
{
public:
    explicit WorldControls (QuorilAudioProcessor& p);
    ~WorldControls() override;

    void resized() override;

    // Builds the button of one corner (0 top left, 1 top right, 2 bottom left, 3 bottom right).
    void createRegenerateButtons (int index);

    void onRegenerateAllClicked();
    void onRegenerateEngineClicked (int index);

    QuorilAudioProcessor& processor;
    std::unique_ptr<orvn::gui::IconButtonControl> regenerateAllButton;
    std::array<std::unique_ptr<orvn::gui::IconButtonControl>, 4> regenerateButtons;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WorldControls)
};
} // namespace quoril
