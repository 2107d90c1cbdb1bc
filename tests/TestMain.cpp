#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if QUORIL_TEST_X11_ERROR_HANDLER
 #include <X11/Xlib.h>

// Without a window manager (as under Xvfb) some X requests that JUCE makes for its windows fail
// with errors such as BadAtom; Xlib's default handler would end the process on the first one.
static int ignoreXError (Display*, XErrorEvent*) { return 0; }
#endif

// Every test run gets a home folder of its own, so that preset folders and the settings file
// never touch the user's, and JUCE is initialised (message manager, fonts) before any test
// creates a processor, a plug-in instance or a component.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

#if QUORIL_TEST_X11_ERROR_HANDLER
    XSetErrorHandler (ignoreXError);
#endif

    // The preset tests empty the preset folder they find: never run them on the real one.
    std::string home = "/tmp/quoril-test-home-XXXXXX";
    if (mkdtemp (home.data()) == nullptr || setenv ("HOME", home.c_str(), 1) != 0)
    {
        std::fprintf (stderr, "Cannot make a private home folder under /tmp (%s); the tests do not run "
                              "with the real home folder.\n", std::strerror (errno));
        return 2;
    }
    unsetenv ("XDG_CONFIG_HOME");

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    juce::File (juce::String (home)).deleteRecursively();
    return result;
}
