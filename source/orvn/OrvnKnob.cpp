#include "OrvnKnob.h"

#include "AttachedMenus.h"

namespace orvnlib
{
OrvnKnob::OrvnKnob (juce::Colour fillColour)
{
    setSliderStyle (juce::Slider::RotaryVerticalDrag);
    setRange (0.0, 1.0, 0.001);
    setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
    setColour (juce::Slider::rotarySliderFillColourId, fillColour);
    setWantsKeyboardFocus (false);
}

OrvnKnob::~OrvnKnob() = default;

void OrvnKnob::mouseDown (const juce::MouseEvent& event)
{
    // Alt with a button is taken by many Linux window managers to move the window, so the
    // right button opens the menu as well.
    if ((event.mods.isAltDown() || event.mods.isPopupMenu()) && parameterID.isNotEmpty())
    {
        showCCMenu();
        return;
    }

    juce::Slider::mouseDown (event);
}

void OrvnKnob::showCCMenu()
{
    juce::PopupMenu menu;
    menu.addItem (assignItemId, "ASSIGN TO LAST CC");
    menu.addItem (clearItemId, "CLEAR CC MAPPING");

    // Opens at the pointer, and closes with the knob's window. A choice that arrives after the
    // knob has gone has nothing left to record.
    const auto options = juce::PopupMenu::Options().withTargetComponent (this).withMousePosition();
    AttachedMenus::show (menu, options, [alive = juce::Component::SafePointer<OrvnKnob> (this)] (int result)
    {
        if (auto* knob = alive.getComponent())
            knob->handleCCMenuResult (result);
    });
}

void OrvnKnob::handleCCMenuResult (int result)
{
    if (result == assignItemId)
        assignRequested = true;
    else if (result == clearItemId)
        clearRequested = true;
    else
        return;

    sendChangeMessage();
}
} // namespace orvnlib
