#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

#include "../orvn/IconButtonControl.h"

// The one accent colour of the editor: knob fills, highlighted icons, the pad, the current preset.
inline const juce::Colour highlightColour { 0xff28afb0 };

// Parses an SVG icon into a drawable (nullptr when the data is not a drawable).
std::unique_ptr<juce::Drawable> makeIconDrawable (const char* svgData, int svgSize);

// An icon button from one SVG: the plain icon, and a second copy for the pressed and on states.
// With highlightOnImage the copy's white is replaced by highlightColour; otherwise the button
// recolours it to its look-and-feel's TextButton::textColourOnId.
std::unique_ptr<orvn::gui::IconButtonControl> makeIconButton (const char* svgData, int svgSize, bool highlightOnImage);

// Keeps a toggle button bound to a host parameter; empty when the parameter id was not found.
struct ButtonAttachmentHolder
{
    std::unique_ptr<juce::ButtonParameterAttachment> attachment;
};

std::unique_ptr<ButtonAttachmentHolder> makeButtonAttachment (juce::AudioProcessorValueTreeState& state,
                                                              const juce::String& parameterId,
                                                              juce::Button& button);
