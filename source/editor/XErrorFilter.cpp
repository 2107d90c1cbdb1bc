#include "XErrorFilter.h"

#include <juce_core/system/juce_TargetPlatform.h>

#if JUCE_LINUX || JUCE_BSD
 #define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
 #include <juce_gui_basics/juce_gui_basics.h>

 #include <atomic>
 #include <dlfcn.h>

namespace XErrorFilter
{
namespace
{
// Read on whatever thread an error arrives on.
std::atomic<XErrorHandler> previousHandler { nullptr };

// Set once our handler could not be taken out: it stays where it is, and is not installed again
// (the handler above it may pass errors on to it, and ours would pass them back up).
bool stillInstalled = false;

int filterError (::Display* display, XErrorEvent* event)
{
    if (auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating())
        if (display != nullptr && display == windowSystem->getDisplay())
            return 0;

    if (auto previous = previousHandler.load())
        return previous (display, event);

    return 0;
}

void keepThisLibraryLoaded()
{
    Dl_info info {};

    if (dladdr (reinterpret_cast<void*> (&filterError), &info) != 0 && info.dli_fname != nullptr)
        dlopen (info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

// Deleted when the framework shuts down in this library, before the window system it was created
// after.
class Installation : public juce::DeletedAtShutdown
{
public:
    Installation()
    {
        const auto previous = juce::X11Symbols::getInstance()->xSetErrorHandler (filterError);

        if (previous != filterError)
            previousHandler = previous;
    }

    ~Installation() override
    {
        auto* symbols = juce::X11Symbols::getInstanceWithoutCreating();
        const auto current = symbols != nullptr ? symbols->xSetErrorHandler (previousHandler.load()) : nullptr;

        if (current != filterError)
        {
            if (current != nullptr)
                symbols->xSetErrorHandler (current);

            stillInstalled = true;
            keepThisLibraryLoaded();
        }

        clearSingletonInstance();
    }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL (Installation)
};

JUCE_IMPLEMENT_SINGLETON (Installation)
} // namespace

void install()
{
    // The plug-in's client makes the editor on the host's thread, holding the message loop, before
    // the host's run loop becomes the message thread: held is what this needs.
    JUCE_ASSERT_MESSAGE_MANAGER_IS_LOCKED

    if (stillInstalled)
        return;

    // The window system first, so that it outlives the installation at shutdown.
    auto* windowSystem = juce::XWindowSystem::getInstance();

    if (windowSystem != nullptr && windowSystem->getDisplay() != nullptr)
        Installation::getInstance();
}
} // namespace XErrorFilter

#else

namespace XErrorFilter
{
void install() {}
} // namespace XErrorFilter

#endif
