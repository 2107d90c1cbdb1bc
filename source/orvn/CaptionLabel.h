#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// A small caption: grey, centred, 10 points, transparent, not editable and never focused.
std::unique_ptr<juce::Label> makeCaptionLabel (const juce::String& text);
