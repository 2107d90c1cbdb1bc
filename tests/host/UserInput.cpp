#include "UserInput.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <thread>

namespace quoril::hosttest
{
namespace
{
// A connection of its own per call, so that any thread may act as the user.
struct Connection
{
    Connection() : display (XOpenDisplay (nullptr))
    {
        int eventBase, errorBase, major, minor;
        if (display != nullptr && ! XTestQueryExtension (display, &eventBase, &errorBase, &major, &minor))
        {
            XCloseDisplay (display);
            display = nullptr;
        }
    }

    ~Connection()
    {
        if (display != nullptr)
        {
            XSync (display, False);
            XCloseDisplay (display);
        }
    }

    Display* display;
};

void pause (int milliseconds) { std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds)); }
} // namespace

bool moveMouse (int x, int y)
{
    Connection c;
    return c.display != nullptr && XTestFakeMotionEvent (c.display, -1, x, y, CurrentTime) != 0;
}

bool pressMouse (bool down)
{
    Connection c;
    return c.display != nullptr && XTestFakeButtonEvent (c.display, 1, down ? True : False, CurrentTime) != 0;
}

bool clickAt (int x, int y, int holdMilliseconds)
{
    if (! moveMouse (x, y))
        return false;
    pause (60);
    const bool pressed = pressMouse (true);
    pause (holdMilliseconds);
    return pressMouse (false) && pressed;
}

bool dragFrom (int x, int y, int toX, int toY, int steps)
{
    if (! moveMouse (x, y))
        return false;
    pause (60);
    bool ok = pressMouse (true);
    for (int i = 1; i <= steps; ++i)
    {
        pause (30);
        ok = moveMouse (x + (toX - x) * i / steps, y + (toY - y) * i / steps) && ok;
    }
    pause (60);
    return pressMouse (false) && ok;
}

std::vector<ScreenWindow> shownTopLevelWindows()
{
    std::vector<ScreenWindow> shown;
    Connection c;
    if (c.display == nullptr)
        return shown;

    ::Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree (c.display, DefaultRootWindow (c.display), &root, &parent, &children, &count) == 0)
        return shown;

    for (unsigned int i = 0; i < count; ++i)
    {
        XWindowAttributes attributes;
        if (XGetWindowAttributes (c.display, children[i], &attributes) != 0 && attributes.map_state == IsViewable)
            shown.push_back ({ (unsigned long) children[i], attributes.x, attributes.y, attributes.width, attributes.height });
    }

    if (children != nullptr)
        XFree (children);
    return shown;
}
} // namespace quoril::hosttest
