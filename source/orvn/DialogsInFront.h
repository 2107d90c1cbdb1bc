#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace orvnlib
{
// The host's own window that holds a component on screen: on X11, the ancestor of the component's
// window that the window manager manages (the one with WM_STATE), else the top-most one below the
// root. 0 when the component is on no screen, or not on X11.
juce::uint64 hostWindowOf (const juce::Component& component);

// Makes each of the plug-in's modal desktop windows that is held in front of no window on screen
// the own window (WM_TRANSIENT_FOR, which the window manager keeps in front) of the host window
// that holds view, and raises it. Nothing while view is not on screen.
void keepDialogsInFront (const juce::Component& view);

// The same for a desktop dialog that the plug-in started as a process of its own (zenity, which
// takes no parent from a plug-in), found by the title it shows. Returns whether it is on screen.
bool keepDesktopDialogInFront (const juce::Component& view, const juce::String& title);

// Keeps the plug-in's desktop dialogs (file dialogs, questions) in front of the host window that
// holds a view, for as long as the view lives. A host may keep its plug-in windows above all
// others, and a desktop window without a parent then opens behind them; a modal one leaves the view
// taking no input from a user who cannot see why. keepDialogsInFront runs every few milliseconds,
// so that the dialogs the framework opens by itself (its question before a file is replaced) are
// caught too, and a dialog whose window has closed is taken over by the next view that opens.
class DialogsInFront : private juce::Timer
{
public:
    explicit DialogsInFront (juce::Component& viewToKeepDialogsOver);
    ~DialogsInFront() override;

private:
    void timerCallback() override { keepDialogsInFront (view); }

    juce::Component& view;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DialogsInFront)
};
} // namespace orvnlib
