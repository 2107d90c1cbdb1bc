#include "UserInput.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
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

// The first 32-bit item of a window's property, if it has one of that type.
std::optional<unsigned long> propertyOf (Display* display, ::Window window, const char* name, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    std::optional<unsigned long> value;
    if (XGetWindowProperty (display, window, XInternAtom (display, name, False), 0, 1, False, type, &actualType, &format,
                            &count, &left, &data) == Success
        && actualType != None && (type == AnyPropertyType || (format == 32 && count == 1)))
        value = data != nullptr && format == 32 && count == 1 ? *reinterpret_cast<unsigned long*> (data) : 0;
    if (data != nullptr)
        XFree (data);
    return value;
}

std::vector<::Window> childrenOf (Display* display, ::Window window, ::Window* parentOut = nullptr)
{
    ::Window root, parent = 0, *children = nullptr;
    unsigned int count = 0;
    std::vector<::Window> result;
    if (XQueryTree (display, window, &root, &parent, &children, &count) != 0)
        result.assign (children, children + count);
    if (children != nullptr)
        XFree (children);
    if (parentOut != nullptr)
        *parentOut = parent == root ? 0 : parent;
    return result;
}
} // namespace

unsigned long topLevelOf (unsigned long window)
{
    Connection c;
    for (int depth = 0; c.display != nullptr && depth < 64 && window != 0; ++depth)
    {
        ::Window parent = 0;
        childrenOf (c.display, window, &parent);
        if (parent == 0)
            return window;
        window = parent;
    }
    return 0;
}

unsigned long clientWindowOf (unsigned long topLevel)
{
    Connection c;
    if (c.display == nullptr)
        return 0;
    std::vector<::Window> level { topLevel };
    for (int depth = 0; depth < 4 && ! level.empty(); ++depth)
    {
        std::vector<::Window> next;
        for (auto w : level)
        {
            if (propertyOf (c.display, w, "WM_STATE", AnyPropertyType).has_value())
                return w;
            const auto children = childrenOf (c.display, w);
            next.insert (next.end(), children.begin(), children.end());
        }
        level = std::move (next);
    }
    return 0;
}

unsigned long transientForOf (unsigned long window)
{
    Connection c;
    return c.display != nullptr ? propertyOf (c.display, window, "WM_TRANSIENT_FOR", XA_WINDOW).value_or (0) : 0;
}

long processOf (unsigned long window)
{
    Connection c;
    return c.display != nullptr ? (long) propertyOf (c.display, window, "_NET_WM_PID", XA_CARDINAL).value_or (0) : 0;
}

bool windowManagerRuns()
{
    Connection c;
    if (c.display == nullptr)
        return false;
    // A window manager that ended without cleaning up leaves the property naming a window that is gone.
    const auto check = propertyOf (c.display, DefaultRootWindow (c.display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).value_or (0);
    const auto windows = childrenOf (c.display, DefaultRootWindow (c.display));
    return check != 0 && std::find (windows.begin(), windows.end(), (::Window) check) != windows.end();
}

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

std::optional<ScreenWindow> newWindow (const std::vector<ScreenWindow>& known)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        for (const auto& w : shownTopLevelWindows())
            if (w.width > 20 && w.height > 20
                && std::none_of (known.begin(), known.end(), [&w] (const ScreenWindow& k) { return k.id == w.id; }))
                return w;
        pause (20);
    }
    return {};
}

bool menuCloses (unsigned long id)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const auto shown = shownTopLevelWindows();
        if (std::none_of (shown.begin(), shown.end(), [id] (const ScreenWindow& w) { return w.id == id; }))
            return true;
        pause (20);
    }
    return false;
}

bool chooseFromSubMenu (int x, int y, float rowFraction, float subRowFraction)
{
    const auto before = shownTopLevelWindows();
    if (! clickAt (x, y))
        return false;
    const auto menu = newWindow (before);
    if (! menu.has_value())
        return false;
    const int row = menu->y + (int) ((float) menu->height * rowFraction);
    const auto withMenu = shownTopLevelWindows();
    moveMouse (menu->x + menu->width / 2, row);
    const auto sub = newWindow (withMenu);
    if (! sub.has_value())
    {
        clickAt (0, 0); // closes the menu
        return false;
    }
    // A menu takes a click only some time after it opened, and sees a press by polling.
    moveMouse (sub->x + sub->width / 2, row);
    pause (400);
    const bool clicked = clickAt (sub->x + sub->width / 2, sub->y + (int) ((float) sub->height * subRowFraction), 200);
    if (menuCloses (menu->id))
        return clicked;
    clickAt (0, 0);
    return false;
}
} // namespace quoril::hosttest
