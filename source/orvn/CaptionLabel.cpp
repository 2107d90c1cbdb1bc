#include "CaptionLabel.h"

std::unique_ptr<juce::Label> makeCaptionLabel (const juce::String& text)
{
    auto label = std::make_unique<juce::Label>();
    label->setColour (juce::Label::textColourId, juce::Colour (0xffbdbdbd));
    label->setColour (juce::Label::backgroundColourId, juce::Colour (0xff272727).withAlpha ((juce::uint8) 0));
    label->setEditable (false, false, false);
    label->setWantsKeyboardFocus (false);
    label->setJustificationType (juce::Justification::centred);
    label->setText (text, juce::dontSendNotification);
    label->setFont (juce::Font (10.0f, juce::Font::plain));
    return label;
}
