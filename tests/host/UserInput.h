#pragma once

#include <optional>
#include <vector>

namespace quoril::hosttest
{
// A user's mouse on the X display, through the XTEST extension: what the X server then delivers
// to whichever window lies under the pointer, as for a real mouse. Screen coordinates. Each call
// returns false when the display or the extension is not there. Kept apart from JUCE because
// Xlib's macros clash with its names.
bool moveMouse (int x, int y);
bool pressMouse (bool down);

// A left click (the button held down for a while), or a drag with the button held from one
// point to another in small steps.
bool clickAt (int x, int y, int holdMilliseconds = 60);
bool dragFrom (int x, int y, int toX, int toY, int steps = 12);

// The top-level windows the X server shows (mapped children of the root window), such as a
// plug-in's popup menus, with their screen rectangles.
struct ScreenWindow
{
    unsigned long id;
    int x, y, width, height;
};

std::vector<ScreenWindow> shownTopLevelWindows();

// The first window that shows up within two seconds and is not among the known ones.
std::optional<ScreenWindow> newWindow (const std::vector<ScreenWindow>& known);

// Whether a window is gone within two seconds.
bool menuCloses (unsigned long id);

// What a window manager made of a window: the top-level window (child of the root) that holds
// it, the client window it manages inside a top-level one (the one with WM_STATE), the window
// that one is kept in front of (WM_TRANSIENT_FOR) and the process that owns it (_NET_WM_PID).
// 0 when there is none.
unsigned long topLevelOf (unsigned long window);
unsigned long clientWindowOf (unsigned long topLevel);
unsigned long transientForOf (unsigned long window);
long processOf (unsigned long window);

// Whether a window manager runs on the display (_NET_SUPPORTING_WM_CHECK on the root window).
bool windowManagerRuns();

// A click at (x, y) that opens a menu, a move onto its row at rowFraction of its height (which
// opens that row's sub-menu), and a click on the sub-menu's row at subRowFraction of its height.
// True when the menu then closed; otherwise a click elsewhere closes it and the result is false.
bool chooseFromSubMenu (int x, int y, float rowFraction, float subRowFraction);
} // namespace quoril::hosttest
