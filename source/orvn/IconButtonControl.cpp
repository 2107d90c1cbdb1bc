#include "IconButtonControl.h"

namespace orvn::gui
{
IconButtonControl::IconButtonControl (std::unique_ptr<juce::Drawable> normal, std::unique_ptr<juce::Drawable> on)
    : juce::DrawableButton ("icon_button", juce::DrawableButton::ImageOnButtonBackground),
      normalImage (std::move (normal)),
      onImage (std::move (on))
{
    onImageColour = getLookAndFeel().findColour (juce::TextButton::textColourOnId);

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

    const auto newColour = getLookAndFeel().findColour (juce::TextButton::textColourOnId);

    if (onImage != nullptr)
        onImage->replaceColour (onImageColour, newColour);

    onImageColour = newColour;
    applyImages();
}

void IconButtonControl::applyImages()
{
    setImages (normalImage.get(), nullptr, onImage.get(), nullptr, onImage.get(), nullptr, nullptr, nullptr);
}
} // namespace orvn::gui
