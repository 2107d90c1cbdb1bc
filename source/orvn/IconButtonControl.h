#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace orvn::gui
{
// A button that shows an SVG icon on the look-and-feel's button background, with a second copy of
// the icon for the pressed and toggled-on states. White in that copy is recoloured to the
// look-and-feel's TextButton::textColourOnId, and follows it when the look-and-feel changes,
// including when the button enters a component tree with a look-and-feel of its own (JUCE sends
// no look-and-feel change to a component that is merely added to such a tree).
class IconButtonControl : public juce::DrawableButton
{
public:
    IconButtonControl (std::unique_ptr<juce::Drawable> normal, std::unique_ptr<juce::Drawable> on);
    ~IconButtonControl() override;

    void lookAndFeelChanged() override;
    void parentHierarchyChanged() override;

    juce::Colour getOnImageColour() const noexcept { return onImageColour; }

private:
    void applyImages();
    void recolourOnImage (juce::Colour newColour);
    juce::Colour effectiveOnColour();

    std::unique_ptr<juce::Drawable> normalImage;
    std::unique_ptr<juce::Drawable> onImage;
    juce::Colour onImageColour;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (IconButtonControl)
};
} // namespace orvn::gui
