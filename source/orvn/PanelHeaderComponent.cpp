#include "PanelHeaderComponent.h"

namespace orvn::gui
{
PanelHeaderComponent::PanelHeaderComponent (const juce::String& title)
{
    titleLabel.setText (title, juce::dontSendNotification);
    titleLabel.setFont (juce::Font (14.0f, juce::Font::plain));
    titleLabel.setColour (juce::Label::textColourId, juce::Colours::white);
    titleLabel.setColour (juce::Label::backgroundColourId, juce::Colour (0x00000000));
    titleLabel.setOpaque (false);
    addAndMakeVisible (titleLabel);
}

PanelHeaderComponent::~PanelHeaderComponent() = default;

void PanelHeaderComponent::paint (juce::Graphics& g)
{
    const auto base = getLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId);
    g.fillAll (base.darker (0.2f));
    g.setColour (base.brighter (0.6f));
    g.fillRect (0, getHeight() - 1, juce::jmax (0, 2 * (getWidth() / 3)), 1);
}

void PanelHeaderComponent::resized()
{
    titleLabel.setBounds (2, 2, juce::jmax (0, getWidth() - 4), juce::jmax (0, juce::jmax (0, getHeight() - 1) - 4));
}
} // namespace orvn::gui
