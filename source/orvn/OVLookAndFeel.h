#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace orvn::gui
{
// The one look-and-feel of the editor: a dark palette, its own buttons, bubbles, combo boxes,
// sliders and tooltips, and plain 12-point widget fonts.
class OVLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OVLookAndFeel();
    ~OVLookAndFeel() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OVLookAndFeel)
};
} // namespace orvn::gui
