#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "MIDITarget.h"

namespace orvnlib
{
// The editor's rotary control: a vertical-drag knob without a text box, range 0..1 in steps of
// 0.001 until an attachment gives it a parameter's range. With a parameter id set, an Alt-click or
// a right-click opens the controller-learn menu instead of starting a drag.
class OrvnKnob : public juce::Slider,
                 public MIDITarget
{
public:
    explicit OrvnKnob (juce::Colour fillColour);
    ~OrvnKnob() override;

    void mouseDown (const juce::MouseEvent& event) override;

    // Opens the controller menu and returns while it is open; the choice is recorded when it
    // closes (unless the knob has been deleted by then).
    void showCCMenu();

    // Records a choice of the controller menu (1 assign, 2 clear, anything else nothing) and
    // announces it to the listeners.
    void handleCCMenuResult (int result);

    static constexpr int assignItemId = 1;
    static constexpr int clearItemId = 2;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvnKnob)
};
} // namespace orvnlib
