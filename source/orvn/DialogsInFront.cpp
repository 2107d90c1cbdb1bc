#include <juce_core/system/juce_TargetPlatform.h>

#if JUCE_LINUX || JUCE_BSD
 #define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#endif

#include "DialogsInFront.h"

#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvnlib
{
namespace
{
#if JUCE_LINUX || JUCE_BSD
::Display* displayOf (const juce::Component& component)
{
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
    return component.getPeer() != nullptr && windowSystem != nullptr ? windowSystem->getDisplay() : nullptr;
}

bool hasProperty (::Display* display, ::Window window, Atom property)
{
    const juce::XWindowSystemUtilities::GetXProperty value (display, window, property, 0, 1, false, AnyPropertyType);
    return value.success && value.actualType != None;
}

// The window the window manager keeps this one in front of; 0 when none.
::Window transientForOf (::Display* display, ::Window window)
{
    const juce::XWindowSystemUtilities::GetXProperty value (display, window, XA_WM_TRANSIENT_FOR, 0, 1, false, XA_WINDOW);
    return value.success && value.actualType == XA_WINDOW && value.actualFormat == 32 && value.numItems == 1
               ? (::Window) *reinterpret_cast<const unsigned long*> (value.data)
               : 0;
}

// Whether a window still exists and is mapped with all its ancestors. An X error for a window
// destroyed meanwhile only makes this false: the plug-in's connection ignores its errors.
bool isShown (::Display* display, ::Window window)
{
    XWindowAttributes attributes {};
    return window != 0 && juce::X11Symbols::getInstance()->xGetWindowAttributes (display, window, &attributes) != 0
           && attributes.map_state == IsViewable;
}

// Makes window the own window of host unless it is already, or is held by another window on
// screen (another view's). Returns whether it was changed.
bool claim (::Display* display, ::Window window, ::Window host)
{
    const juce::XWindowSystemUtilities::ScopedXLock lock;
    const auto holder = transientForOf (display, window);

    if (holder == host || (holder != 0 && isShown (display, holder)))
        return false;

    juce::X11Symbols::getInstance()->xChangeProperty (display, window, XA_WM_TRANSIENT_FOR, XA_WINDOW, 32, PropModeReplace,
                                                      reinterpret_cast<const unsigned char*> (&host), 1);
    juce::X11Symbols::getInstance()->xFlush (display);
    return true;
}

juce::String titleOf (::Display* display, ::Window window)
{
    const auto utf8 = juce::XWindowSystemUtilities::Atoms::getIfExists (display, "UTF8_STRING");
    const auto netName = juce::XWindowSystemUtilities::Atoms::getIfExists (display, "_NET_WM_NAME");

    if (utf8 != None && netName != None)
    {
        const juce::XWindowSystemUtilities::GetXProperty name (display, window, netName, 0, 256, false, utf8);
        if (name.success && name.actualType == utf8 && name.actualFormat == 8)
            return juce::String::fromUTF8 (reinterpret_cast<const char*> (name.data), (int) name.numItems);
    }

    const juce::XWindowSystemUtilities::GetXProperty name (display, window, XA_WM_NAME, 0, 256, false, XA_STRING);
    return name.success && name.actualType == XA_STRING && name.actualFormat == 8
               ? juce::String (reinterpret_cast<const char*> (name.data), (size_t) name.numItems)
               : juce::String();
}

// Whether the window belongs to a process this process started.
bool isOfAChildProcess (::Display* display, ::Window window)
{
    const auto pidAtom = juce::XWindowSystemUtilities::Atoms::getIfExists (display, "_NET_WM_PID");
    if (pidAtom == None)
        return false;

    const juce::XWindowSystemUtilities::GetXProperty pid (display, window, pidAtom, 0, 1, false, XA_CARDINAL);
    if (! (pid.success && pid.actualType == XA_CARDINAL && pid.actualFormat == 32 && pid.numItems == 1))
        return false;

    // /proc/<pid>/stat: "pid (name) state ppid ...", the name possibly holding spaces and parentheses.
    // (Read as a stream: the file's size reads as 0, so the framework's file reading stops at once.)
    std::ifstream file ("/proc/" + std::to_string (*reinterpret_cast<const unsigned long*> (pid.data)) + "/stat");
    std::string text;
    std::getline (file, text);
    const juce::String stat (text);
    const auto fields = juce::StringArray::fromTokens (stat.fromLastOccurrenceOf (")", false, false).trim(), false);
    return fields.size() > 2 && fields[1].getIntValue() == (int) getpid();
}

// The client windows on screen: the root's children, or inside them (window managers frame
// their clients) the first with WM_STATE, a few levels down at most.
std::vector<::Window> clientWindows (::Display* display)
{
    auto* x = juce::X11Symbols::getInstance();
    const auto wmState = juce::XWindowSystemUtilities::Atoms::getIfExists (display, "WM_STATE");

    const auto childrenOf = [x, display] (::Window window)
    {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned int numChildren = 0;
        std::vector<::Window> result;
        if (x->xQueryTree (display, window, &root, &parent, &children, &numChildren) != 0 && children != nullptr)
            result.assign (children, children + numChildren);
        if (children != nullptr)
            x->xFree (children);
        return result;
    };

    std::vector<::Window> clients;
    for (auto top : childrenOf (x->xDefaultRootWindow (display)))
    {
        if (! isShown (display, top))
            continue;

        std::vector<::Window> level { top };
        for (int depth = 0; depth < 3 && ! level.empty(); ++depth)
        {
            std::vector<::Window> next;
            for (auto w : level)
            {
                if (wmState != None && hasProperty (display, w, wmState))
                {
                    clients.push_back (w);
                    next.clear();
                    break;
                }
                const auto children = childrenOf (w);
                next.insert (next.end(), children.begin(), children.end());
            }
            level = std::move (next);
        }

        if (wmState == None)
            clients.push_back (top); // no window manager: the windows are the clients
    }
    return clients;
}
#endif
} // namespace

juce::uint64 hostWindowOf (const juce::Component& component)
{
#if JUCE_LINUX || JUCE_BSD
    auto* display = displayOf (component);
    if (display == nullptr)
        return 0;

    const juce::XWindowSystemUtilities::ScopedXLock lock;
    auto* x = juce::X11Symbols::getInstance();
    const auto wmState = juce::XWindowSystemUtilities::Atoms::getIfExists (display, "WM_STATE");

    auto window = (::Window) (juce::pointer_sized_uint) component.getPeer()->getNativeHandle();
    ::Window topMost = 0;

    // Bounded: a window tree is never this deep.
    for (int depth = 0; depth < 64 && window != 0; ++depth)
    {
        if (wmState != None && hasProperty (display, window, wmState))
            return (juce::uint64) window;

        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned int numChildren = 0;
        if (x->xQueryTree (display, window, &root, &parent, &children, &numChildren) == 0)
            break;
        if (children != nullptr)
            x->xFree (children);

        if (parent == 0 || parent == root)
        {
            topMost = window;
            break;
        }

        window = parent;
    }

    return (juce::uint64) topMost;
#else
    juce::ignoreUnused (component);
    return 0;
#endif
}

//==============================================================================
DialogsInFront::DialogsInFront (juce::Component& viewToKeepDialogsOver) : view (viewToKeepDialogsOver)
{
    startTimer (40);
}

DialogsInFront::~DialogsInFront() = default;

void keepDialogsInFront (const juce::Component& view)
{
#if JUCE_LINUX || JUCE_BSD
    auto& modal = *juce::ModalComponentManager::getInstance();
    const int numModal = modal.getNumModalComponents();

    if (numModal == 0 || ! view.isShowing())
        return;

    const auto host = (::Window) hostWindowOf (view);
    auto* display = displayOf (view);

    if (host == 0 || display == nullptr)
        return;

    for (int i = numModal; --i >= 0;)
    {
        auto* dialog = modal.getModalComponent (i);
        auto* peer = dialog != nullptr ? dialog->getPeer() : nullptr;

        // Only the plug-in's own desktop windows; one inside the view shows with it, and menus
        // (temporary windows, which the window manager leaves alone) show over everything.
        if (peer == nullptr || &peer->getComponent() == view.getTopLevelComponent()
            || (peer->getStyleFlags() & juce::ComponentPeer::windowIsTemporary) != 0)
            continue;

        const auto window = (::Window) (juce::pointer_sized_uint) peer->getNativeHandle();

        if (claim (display, window, host) && dialog->isVisible())
            peer->getComponent().toFront (true);
    }
#else
    juce::ignoreUnused (view);
#endif
}

bool keepDesktopDialogInFront (const juce::Component& view, const juce::String& title)
{
#if JUCE_LINUX || JUCE_BSD
    const auto host = (::Window) hostWindowOf (view);
    auto* display = displayOf (view);

    if (host == 0 || display == nullptr)
        return false;

    const juce::XWindowSystemUtilities::ScopedXLock lock;

    for (auto window : clientWindows (display))
    {
        if (titleOf (display, window) != title || ! isOfAChildProcess (display, window))
            continue;

        if (claim (display, window, host))
        {
            // As the framework raises its own windows: the window manager is asked to activate it.
            XEvent event {};
            event.xclient.type = ClientMessage;
            event.xclient.send_event = True;
            event.xclient.message_type = juce::XWindowSystemUtilities::Atoms::getCreating (display, "_NET_ACTIVE_WINDOW");
            event.xclient.window = window;
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            auto* x = juce::X11Symbols::getInstance();
            x->xSendEvent (display, x->xDefaultRootWindow (display), False,
                           SubstructureRedirectMask | SubstructureNotifyMask, &event);
            x->xFlush (display);
        }

        return true;
    }
#else
    juce::ignoreUnused (view, title);
#endif
    return false;
}
} // namespace orvnlib
