#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace orvn::gui
{
// The title strip at the top of a panel: a dark strip with a white title and a light line along
// the left two thirds of its bottom edge.
class PanelHeaderComponent : public juce::Component
{
public:
    explicit PanelHeaderComponent (const juce::String& title);
    ~PanelHeaderComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    juce::Label titleLabel;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PanelHeaderComponent)
};
} // namespace orvn::gui
