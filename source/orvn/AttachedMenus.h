#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace orvnlib
{
// Pop-up menus that go with the window they were opened from. A menu is a window of its own on
// the desktop: left open when the host closes the plug-in's window, it would stay up over nothing
// while the framework goes on asking the display about windows that are gone.
namespace AttachedMenus
{
// Shows the menu and returns at once, like PopupMenu::showMenuAsync. The options name the
// component the menu belongs to as their target.
void show (juce::PopupMenu menu, const juce::PopupMenu::Options& options,
           std::function<void (int)> onResult = {});

// Closes at once, choosing nothing, every menu shown through show() whose target is inside the
// window (or has gone already); menus of other windows stay open. Their result handlers run
// later from the message loop with 0.
void closeAllInside (const juce::Component& window);
} // namespace AttachedMenus
} // namespace orvnlib
