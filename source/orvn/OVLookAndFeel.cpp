#include "OVLookAndFeel.h"

namespace orvn::gui
{
OVLookAndFeel::OVLookAndFeel()
{
    const juce::Colour panel (0xff191919);

    setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xff2660a4));
    setColour (juce::Slider::textBoxTextColourId, juce::Colour (0xff2660a4));
    setColour (juce::TextButton::textColourOnId, juce::Colour (0xff2660a4));
    setColour (juce::ResizableWindow::backgroundColourId, panel);
    setColour (juce::Slider::backgroundColourId, juce::Colour (0xff343434));
    setColour (juce::BubbleComponent::backgroundColourId, juce::Colour (0xff000000));
    setColour (juce::BubbleComponent::outlineColourId, juce::Colour (0xff343434));
    setColour (juce::TooltipWindow::textColourId, juce::Colour (0xffffffff));
    setColour (juce::TooltipWindow::backgroundColourId, juce::Colour (0xff000000));
    setColour (juce::TooltipWindow::outlineColourId, juce::Colour (0xff343434));
    setColour (juce::Slider::textBoxBackgroundColourId, juce::Colour (0xff000000));
    setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0xff343434));
    setColour (juce::ComboBox::backgroundColourId, panel.brighter (0.1f));
    setColour (juce::PopupMenu::backgroundColourId, panel.darker (0.4f));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0xff343434));
    setColour (juce::TextButton::buttonColourId, panel.brighter (0.1f));
    setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff000000));
    setColour (juce::TextButton::textColourOffId, juce::Colour (0xffffffff));
}

OVLookAndFeel::~OVLookAndFeel() = default;
} // namespace orvn::gui
