#include "IconButtonControl.h"

namespace orvn::gui
{
IconButtonControl::IconButtonControl (std::unique_ptr<juce::Drawable> normal, std::unique_ptr<juce::Drawable> on)
    : juce::DrawableButton ("icon_button", juce::DrawableButton::ImageOnButtonBackground),
      normalImage (std::move (normal)),
      onImage (std::move (on))
{
    onImageColour = effectiveOnColour();

    if (onImage != nullptr)
        onImage->replaceColour (juce::Colours::white, onImageColour);

    applyImages();
}

IconButtonControl::~IconButtonControl()
{
    onImage.reset();
    normalImage.reset();
}

void IconButtonControl::lookAndFeelChanged()
{
    juce::DrawableButton::lookAndFeelChanged();

    recolourOnImage (effectiveOnColour());
}

void IconButtonControl::parentHierarchyChanged()
{
    juce::DrawableButton::parentHierarchyChanged();

    // A tree's look-and-feel reaches only the components already in it when it is set; a button
    // added afterwards takes its colour here. Nothing is rebuilt when the colour stays the same.
    const auto newColour = effectiveOnColour();

    if (newColour != onImageColour)
        recolourOnImage (newColour);
}

void IconButtonControl::recolourOnImage (juce::Colour newColour)
{
    if (onImage != nullptr)
        onImage->replaceColour (onImageColour, newColour);

    onImageColour = newColour;
    applyImages();
}

juce::Colour IconButtonControl::effectiveOnColour()
{
    return getLookAndFeel().findColour (juce::TextButton::textColourOnId);
}

void IconButtonControl::applyImages()
{
    setImages (normalImage.get(), nullptr, onImage.get(), nullptr, onImage.get(), nullptr, nullptr, nullptr);
}
} // namespace orvn::gui
